// The mixed-kind vector: one contiguous list per element kind, and the whole-vector operations.
#pragma once

#include <tuple>
#include <vector>

#include "numeric_core/element.hpp"
#include "numeric_core/list_ops.hpp"

namespace swarmtuner {

// A point, a velocity, a bound or a velocity limit. Lists are independent in length; binary
// operations pair them per kind over the shorter one. Copies are explicit (clone).
struct XVec {
  std::vector<std::int8_t> i8;
  std::vector<std::int16_t> i16;
  std::vector<std::int32_t> i32;
  std::vector<std::int64_t> i64;
  std::vector<Int128> i128;
  std::vector<BigInt> i;
  std::vector<float> f32;
  std::vector<double> f64;
  std::vector<Complex32> c64;
  std::vector<Complex64> c128;
  std::vector<Decimal> d;

  XVec() = default;
  XVec(XVec&&) noexcept = default;
  XVec& operator=(XVec&&) noexcept = default;
  XVec& operator=(const XVec&) = delete;

 private:
  // Defined before its first use: a deduced return type is unknown until then.
  auto lists() noexcept { return std::tie(i8, i16, i32, i64, i128, i, f32, f64, c64, c128, d); }

 public:
  // The list of kind K, for code written once over all kinds.
  template <ElementKind K>
  std::vector<Element<K>>& list() noexcept {
    return std::get<kind_index(K)>(lists());
  }
  template <ElementKind K>
  const std::vector<Element<K>>& list() const noexcept {
    return std::get<kind_index(K)>(const_cast<XVec*>(this)->lists());
  }

  // Deep copy.
  XVec clone() const { return XVec(*this); }
  // Deep copy into this vector's storage, reusing what it already holds (no allocation when
  // the lengths fit and, for big integers, the digits fit).
  void assign(const XVec& other) {
    for_each_kind([&]<ElementKind K>(KindTag<K>) { assign_list(list<K>(), other.list<K>()); });
  }
  // Same list lengths, every element the zero of its kind (decimal zero has scale 0).
  XVec zeros_like() const;
  // True when every list is empty.
  bool empty() const noexcept;

  // a + b and a - b per kind over the shorter list, written into a's storage.
  static XVec add(XVec a, const XVec& b);
  static XVec sub(XVec a, const XVec& b);
  // The same, with this vector as a: this = this + b and this = this - b.
  void add_in_place(const XVec& b);
  void sub_in_place(const XVec& b);
  // -a, in a's storage.
  static XVec neg(XVec a);
  // a[j] += b[j] for j below the shorter length; a keeps its lengths.
  void add_assign(const XVec& b);
  // Every element scaled by factor with its kind's rule.
  void mul_assign(const ScaleFactor& factor);
  void mul_assign(double factor) { mul_assign(ScaleFactor(factor)); }

 private:
  XVec(const XVec&) = default;
};

// Brings position into [lower, upper] (zeroing the velocity of a clamped component) and
// otherwise velocity into [velocity_min, velocity_max]; complex components part by part.
void clamp_particle(XVec& position, XVec& velocity, const XVec& lower, const XVec& upper,
                    const XVec& velocity_min, const XVec& velocity_max);

}  // namespace swarmtuner
