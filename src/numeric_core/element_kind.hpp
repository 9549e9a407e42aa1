// The eleven element kinds of a search space, in their fixed order, and iteration over them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

namespace swarmtuner {

// The 128-bit integers are a GNU extension. The standard library counts them as integers (type
// traits, numeric_limits) only in GNU mode, so what the core needs of them is spelled out here
// and it builds the same in ISO mode.
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

inline constexpr UInt128 uint128_max = ~UInt128{0};
inline constexpr Int128 int128_max = static_cast<Int128>(uint128_max >> 1);
inline constexpr Int128 int128_min = -int128_max - 1;

// std::make_unsigned, extended to the 128-bit integers.
template <class T>
struct UnsignedOfTraits {
  using type = std::make_unsigned_t<T>;
};
template <>
struct UnsignedOfTraits<Int128> {
  using type = UInt128;
};
template <>
struct UnsignedOfTraits<UInt128> {
  using type = UInt128;
};
template <class T>
using UnsignedOf = typename UnsignedOfTraits<T>::type;

// The order is observable: it is the order of a vector's lists, of every whole-vector
// operation (so it decides which failure is reported first), of the bound parameters and
// of the keys of a point handed to Python.
enum class ElementKind : std::uint8_t { I8, I16, I32, I64, I128, I, F32, F64, C64, C128, D };

inline constexpr std::size_t kind_count = 11;

inline constexpr std::array<ElementKind, kind_count> all_kinds = {
    ElementKind::I8,   ElementKind::I16,  ElementKind::I32, ElementKind::I64,
    ElementKind::I128, ElementKind::I,    ElementKind::F32, ElementKind::F64,
    ElementKind::C64,  ElementKind::C128, ElementKind::D};

inline constexpr std::array<std::string_view, kind_count> kind_names = {
    "i8", "i16", "i32", "i64", "i128", "i", "f32", "f64", "c64", "c128", "d"};

constexpr std::size_t kind_index(ElementKind kind) noexcept {
  return static_cast<std::size_t>(kind);
}
constexpr std::string_view kind_name(ElementKind kind) noexcept {
  return kind_names[kind_index(kind)];
}

template <ElementKind K>
using KindTag = std::integral_constant<ElementKind, K>;

// Calls f(KindTag<K>{}) for every kind K, in kind order.
template <class F>
constexpr void for_each_kind(F&& f) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (f(KindTag<static_cast<ElementKind>(I)>{}), ...);
  }
  (std::make_index_sequence<kind_count>{});
}

}  // namespace swarmtuner
