// The whole-vector operations of XVec: each applies its element primitive kind by kind.
#include "numeric_core/x_vec.hpp"

#include <utility>

namespace swarmtuner {

// Kinds are visited in kind order by for_each_kind, and every list operation visits positions
// from 0 upwards, so the first element that fails is the one whose message is reported.

XVec XVec::zeros_like() const {
  XVec zeros;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    // Value-initialised elements are the kind's zero.
    zeros.list<K>().resize(list<K>().size());
  });
  return zeros;
}

std::uint32_t XVec::kinds() const noexcept {
  std::uint32_t kinds = 0;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if (!list<K>().empty()) kinds |= std::uint32_t{1} << kind_index(K);
  });
  return kinds;
}

bool XVec::empty() const noexcept {
  bool all_empty = true;
  for_each_kind([&]<ElementKind K>(KindTag<K>) { all_empty = all_empty && list<K>().empty(); });
  return all_empty;
}

void XVec::add_in_place(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { add_list_in_place(list<K>(), b.list<K>()); });
}

void XVec::sub_in_place(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { sub_list_in_place(list<K>(), b.list<K>()); });
}

XVec XVec::add(XVec a, const XVec& b) {
  a.add_in_place(b);
  return a;
}

XVec XVec::sub(XVec a, const XVec& b) {
  a.sub_in_place(b);
  return a;
}

XVec XVec::neg(XVec a) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { neg_list(a.list<K>()); });
  return a;
}

void XVec::add_assign(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { add_list(list<K>(), b.list<K>()); });
}

void XVec::mul_assign(const ScaleFactor& factor) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { scale_list(list<K>(), factor); });
}

void clamp_particle(XVec& position, XVec& velocity, const XVec& lower, const XVec& upper,
                    const XVec& velocity_min, const XVec& velocity_max) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    clamp_lists(position.list<K>(), velocity.list<K>(), lower.list<K>(), upper.list<K>(),
                velocity_min.list<K>(), velocity_max.list<K>());
  });
}

}  // namespace swarmtuner
