// The block that holds a vector's lists, and the whole-vector operations of XVec: each applies its
// element primitive kind by kind.
#include "numeric_core/x_vec.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace swarmtuner {

// A particle holds three vectors; the block's address and eleven 32-bit ends keep each small.
static_assert(sizeof(XVec) <= 56, "a vector is its block's address and where its lists end");

// Kinds are visited in kind order by for_each_kind, and every list operation visits positions
// from 0 upwards, so the first element that fails is the one whose message is reported.

// A block past 4 GiB is memory this vector cannot hold, refused as any allocation that cannot
// be served is (std::bad_alloc, a MemoryError in Python), before anything is asked for.
XVec::Ends XVec::ends_for(const Lengths& lengths) {
  constexpr std::uint64_t max_bytes = std::numeric_limits<std::uint32_t>::max();
  std::array<std::uint64_t, kind_count> bytes{};  // by slot
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const std::size_t n = lengths[kind_index(K)];
    if (n > max_bytes / sizeof(Element<K>)) throw std::bad_alloc();
    bytes[slot<K>] = n * sizeof(Element<K>);
  });
  Ends ends{};
  std::uint64_t total = 0;
  for (std::size_t s = 0; s < kind_count; ++s) {
    total += bytes[s];
    if (total > max_bytes) throw std::bad_alloc();
    ends[s] = static_cast<std::uint32_t>(total);
  }
  return ends;
}

std::uint32_t XVec::kinds() const noexcept {
  std::uint32_t kinds = 0;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if (!list<K>().empty()) kinds |= std::uint32_t{1} << kind_index(K);
  });
  return kinds;
}

XVec XVec::with_lengths(const Lengths& lengths) {
  // Value-initialised elements are the kind's zero.
  return build(ends_for(lengths), []<ElementKind K>(KindTag<K>, Element<K>* out, std::size_t n) {
    std::uninitialized_value_construct_n(out, n);
  });
}

XVec::Lengths XVec::lengths() const noexcept {
  Lengths lengths{};
  for_each_kind([&]<ElementKind K>(KindTag<K>) { lengths[kind_index(K)] = length_in<K>(ends_); });
  return lengths;
}

XVec XVec::clone() const {
  return build(ends_, [&]<ElementKind K>(KindTag<K>, Element<K>* out, std::size_t n) {
    std::uninitialized_copy_n(elements_in<K>(data_, ends_), n, out);
  });
}

void XVec::assign(const XVec& other) {
  if (this == &other) return;
  if (ends_ != other.ends_) {
    *this = other.clone();
    return;
  }
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    std::copy_n(elements_in<K>(other.data_, ends_), length_in<K>(ends_),
                elements_in<K>(data_, ends_));
  });
}

void XVec::release() noexcept {
  if (data_ == nullptr) return;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    std::destroy_n(elements_in<K>(data_, ends_), length_in<K>(ends_));
  });
  ::operator delete(data_);
  data_ = nullptr;
  ends_ = {};
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
