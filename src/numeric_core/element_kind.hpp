// The eleven element kinds of a search space, in their fixed order, and iteration over them.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
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

// The table of kinds: each kind once, as X(enumerator, name, element type), in kind order.
// Everything that lists the kinds is expanded from it: the enum and its names here, the element
// types (element.hpp), a vector's lists (x_vec.hpp) and the explicit instantiations of the
// Python layer. The element types are only named here; they are declared where the table is
// expanded with them.
//
// The order is observable: it is the order of a vector's lists, of every whole-vector
// operation (so it decides which failure is reported first), of the bound parameters and
// of the keys of a point handed to Python.
#define SWARMTUNER_ELEMENT_KINDS(X) \
  X(I8, "i8", std::int8_t)          \
  X(I16, "i16", std::int16_t)       \
  X(I32, "i32", std::int32_t)       \
  X(I64, "i64", std::int64_t)       \
  X(I128, "i128", Int128)           \
  X(I, "i", BigInt)                 \
  X(F32, "f32", float)              \
  X(F64, "f64", double)             \
  X(C64, "c64", Complex32)          \
  X(C128, "c128", Complex64)        \
  X(D, "d", Decimal)

#define SWARMTUNER_KIND_ENUMERATOR(kind, name, type) kind,
enum class ElementKind : std::uint8_t { SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_KIND_ENUMERATOR) };
#undef SWARMTUNER_KIND_ENUMERATOR

#define SWARMTUNER_KIND_COUNT(kind, name, type) +1
inline constexpr std::size_t kind_count = 0 SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_KIND_COUNT);
#undef SWARMTUNER_KIND_COUNT

#define SWARMTUNER_KIND_VALUE(kind, name, type) ElementKind::kind,
// Every kind, in kind order.
inline constexpr std::array<ElementKind, kind_count> all_kinds = {
    SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_KIND_VALUE)};
#undef SWARMTUNER_KIND_VALUE

#define SWARMTUNER_KIND_NAME(kind, name, type) name,
inline constexpr std::array<std::string_view, kind_count> kind_names = {
    SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_KIND_NAME)};
#undef SWARMTUNER_KIND_NAME

constexpr std::size_t kind_index(ElementKind kind) noexcept {
  return static_cast<std::size_t>(kind);
}
constexpr std::string_view kind_name(ElementKind kind) noexcept {
  return kind_names[kind_index(kind)];
}

template <ElementKind K>
using KindTag = std::integral_constant<ElementKind, K>;

namespace kind_detail {
template <template <ElementKind> class PerKind, class Indices>
struct KindTupleOf;
template <template <ElementKind> class PerKind, std::size_t... I>
struct KindTupleOf<PerKind, std::index_sequence<I...>> {
  using type = std::tuple<PerKind<static_cast<ElementKind>(I)>...>;
};
}  // namespace kind_detail

// std::tuple<PerKind<K>...> over every kind K in kind order, so that std::get<kind_index(K)>
// reaches kind K's member: storage with one member per kind, such as a vector's lists.
template <template <ElementKind> class PerKind>
using KindTuple =
    typename kind_detail::KindTupleOf<PerKind, std::make_index_sequence<kind_count>>::type;

// Calls f(KindTag<K>{}) for every kind K, in kind order.
template <class F>
constexpr void for_each_kind(F&& f) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (f(KindTag<static_cast<ElementKind>(I)>{}), ...);
  }
  (std::make_index_sequence<kind_count>{});
}

// Calls f(KindTag<K>{}) for every kind K whose bit (kind_index(K)) is set in `kinds`, in kind
// order. An absent kind costs a test of its bit: a search's points use one to three kinds, and a
// walk that did more for the others would cost more than the step of one component.
template <class F>
[[gnu::always_inline]] constexpr void for_each_kind_in(std::uint32_t kinds, F&& f) {
  const auto visit = [&]<std::size_t... I>(std::index_sequence<I...>)
      __attribute__((always_inline)) {
    (((kinds >> I & 1) != 0 ? f(KindTag<static_cast<ElementKind>(I)>{}) : void()), ...);
  };
  visit(std::make_index_sequence<kind_count>{});
}

}  // namespace swarmtuner
