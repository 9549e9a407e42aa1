// Element types per kind and the per-element primitives that the vector operations apply.
#pragma once

#include <cstdint>

#include "prelude/big_int.hpp"
#include "prelude/complex.hpp"
#include "prelude/decimal.hpp"
#include "prelude/element_kind.hpp"

namespace swarmtuner {

template <ElementKind K> struct ElementTraits;
template <> struct ElementTraits<ElementKind::I8> { using type = std::int8_t; };
template <> struct ElementTraits<ElementKind::I16> { using type = std::int16_t; };
template <> struct ElementTraits<ElementKind::I32> { using type = std::int32_t; };
template <> struct ElementTraits<ElementKind::I64> { using type = std::int64_t; };
template <> struct ElementTraits<ElementKind::I128> { using type = Int128; };
template <> struct ElementTraits<ElementKind::I> { using type = BigInt; };
template <> struct ElementTraits<ElementKind::F32> { using type = float; };
template <> struct ElementTraits<ElementKind::F64> { using type = double; };
template <> struct ElementTraits<ElementKind::C64> { using type = Complex32; };
template <> struct ElementTraits<ElementKind::C128> { using type = Complex64; };
template <> struct ElementTraits<ElementKind::D> { using type = Decimal; };

template <ElementKind K>
using Element = typename ElementTraits<K>::type;

// Complex kinds have no order; clamping and sampling treat them apart.
constexpr bool is_complex_kind(ElementKind kind) noexcept {
  return kind == ElementKind::C64 || kind == ElementKind::C128;
}

// Per-element primitives (defined in element.cpp / inline below by kind):
//   add_element, sub_element, neg_element, add_assign_element, scale_element,
//   less_element, greater_element, zero_element.
// Fixed-width integers saturate on sum, difference and negation; decimal overflow throws
// InternalFailure with "Addition overflowed", "Subtraction overflowed" or
// "Multiplication overflowed"; "i" scaling by a non-finite product throws
// "f64 can not to BigInt"; "d" scaling by a factor that is not a decimal throws
// "Failed to convert to Decimal".

}  // namespace swarmtuner
