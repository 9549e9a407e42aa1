// The mixed-kind vector: one contiguous list per element kind, and the whole-vector operations.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "numeric_core/element.hpp"
#include "numeric_core/list_ops.hpp"

namespace swarmtuner {

// A point, a velocity, a bound or a velocity limit. Lists are independent in length; binary
// operations pair them per kind over the shorter one. Copies are explicit (clone).
struct XVec {
  XVec() = default;
  XVec(XVec&&) noexcept = default;
  XVec& operator=(XVec&&) noexcept = default;
  XVec& operator=(const XVec&) = delete;

  // The list of kind K.
  template <ElementKind K>
  std::vector<Element<K>>& list() noexcept {
    return std::get<kind_index(K)>(lists_);
  }
  template <ElementKind K>
  const std::vector<Element<K>>& list() const noexcept {
    return std::get<kind_index(K)>(lists_);
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
  // Bit kind_index(K) set for every kind K whose list is not empty.
  std::uint32_t kinds() const noexcept;

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

  template <ElementKind K>
  using List = std::vector<Element<K>>;
  KindTuple<List> lists_;
};

// Brings position into [lower, upper] (zeroing the velocity of a clamped component) and
// otherwise velocity into [velocity_min, velocity_max]; complex components part by part.
void clamp_particle(XVec& position, XVec& velocity, const XVec& lower, const XVec& upper,
                    const XVec& velocity_min, const XVec& velocity_max);

}  // namespace swarmtuner
