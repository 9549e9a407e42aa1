// The mixed-kind vector: one contiguous list per element kind, all in one heap block, and the
// whole-vector operations.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "numeric_core/element.hpp"
#include "numeric_core/list_ops.hpp"

namespace swarmtuner {

namespace xvec_detail {

template <std::size_t... I>
constexpr std::array<std::size_t, kind_count> kind_alignments(std::index_sequence<I...>) {
  return {alignof(Element<static_cast<ElementKind>(I)>)...};
}
template <std::size_t... I>
constexpr std::array<std::size_t, kind_count> kind_sizes(std::index_sequence<I...>) {
  return {sizeof(Element<static_cast<ElementKind>(I)>)...};
}
template <std::size_t... I>
constexpr std::array<bool, kind_count> kinds_trivially_copyable(std::index_sequence<I...>) {
  return {std::is_trivially_copyable_v<Element<static_cast<ElementKind>(I)>>...};
}

inline constexpr std::array<std::size_t, kind_count> alignment =
    kind_alignments(std::make_index_sequence<kind_count>{});
inline constexpr std::array<std::size_t, kind_count> size =
    kind_sizes(std::make_index_sequence<kind_count>{});
inline constexpr std::array<bool, kind_count> trivially_copyable =
    kinds_trivially_copyable(std::make_index_sequence<kind_count>{});

// Where each kind's list lies in a vector's block. A kind whose elements cannot be copied as
// bytes (big integers) comes first, so that shortening a list only ever slides lists of bytes
// down behind it; then larger alignments before smaller ones (kind order among equals), so
// every list starts aligned right after the one before it and the block needs no padding. The
// order of memory is not the order of operations, which is always kind order.
inline constexpr std::array<std::size_t, kind_count> slot_of_kind = [] {
  std::array<std::size_t, kind_count> slots{};
  std::size_t next = 0;
  for (std::size_t k = 0; k < kind_count; ++k) {
    if (!trivially_copyable[k]) slots[k] = next++;
  }
  for (std::size_t align = 64; align != 0; align /= 2) {
    for (std::size_t k = 0; k < kind_count; ++k) {
      if (trivially_copyable[k] && alignment[k] == align) slots[k] = next++;
    }
  }
  return slots;
}();

// The layout's promises, checked: every kind has its own slot, at most the first slot holds
// elements that are not bytes, and a list of any length ends where the next one may start.
inline constexpr bool layout_holds = [] {
  std::array<bool, kind_count> taken{};
  for (std::size_t k = 0; k < kind_count; ++k) {
    if (slot_of_kind[k] >= kind_count || taken[slot_of_kind[k]]) return false;
    taken[slot_of_kind[k]] = true;
    if (!trivially_copyable[k] && slot_of_kind[k] != 0) return false;
    for (std::size_t later = 0; later < kind_count; ++later) {
      if (slot_of_kind[later] > slot_of_kind[k] && size[k] % alignment[later] != 0) return false;
    }
  }
  return true;
}();
static_assert(layout_holds, "the kinds' element types do not fit the block layout");

}  // namespace xvec_detail

// A point, a velocity, a bound or a velocity limit. Lists are independent in length; binary
// operations pair them per kind over the shorter one. Copies are explicit (clone).
//
// Every list lives in one heap block (none while all are empty), and the vector itself holds
// only the block's address and where each list ends in it: a particle's three vectors cost a
// few dozen bytes each whatever the kinds of the search. A list's elements are reached as a
// span; a change of a list's length builds the block anew, moving the other lists over, so
// code that sizes a vector once (the sampler, zeros_like, clone) does it in one step.
class XVec {
 public:
  template <ElementKind K>
  class ListRef;
  // A length per kind, in kind order.
  using Lengths = std::array<std::size_t, kind_count>;

  XVec() noexcept = default;
  XVec(XVec&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), ends_(std::exchange(other.ends_, {})) {}
  XVec& operator=(XVec&& other) noexcept {
    XVec taken(std::move(other));
    swap(taken);
    return *this;
  }
  XVec& operator=(const XVec&) = delete;
  ~XVec() { release(); }

  // Every list of the given length, each element the zero of its kind (decimal zero has
  // scale 0).
  static XVec with_lengths(const Lengths& lengths);
  Lengths lengths() const noexcept;

  // The list of kind K: its elements, and through ListRef the calls that change its length.
  template <ElementKind K>
  ListRef<K> list() noexcept {
    return ListRef<K>(*this);
  }
  template <ElementKind K>
  std::span<const Element<K>> list() const noexcept {
    return span<K>();
  }

  // Deep copy.
  XVec clone() const;
  // Deep copy into this vector's storage, reusing what it already holds (no allocation when
  // the lengths are the same and, for big integers, the digits fit).
  void assign(const XVec& other);
  // Same list lengths, every element the zero of its kind.
  XVec zeros_like() const { return with_lengths(lengths()); }
  // True when every list is empty.
  bool empty() const noexcept { return ends_.back() == 0; }
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

  // True when every list has the other vector's length, so that every list lies at the same
  // place in both blocks.
  bool same_lengths(const XVec& other) const noexcept { return ends_ == other.ends_; }
  // Where kind K's list begins in the block, in bytes. A caller that has learnt it once (the
  // step's plan) reaches that list, in every vector of the same lengths, through list_at.
  template <ElementKind K>
  std::uint32_t offset_of() const noexcept {
    return static_cast<std::uint32_t>(begin_offset<K>(ends_));
  }
  template <ElementKind K>
  Element<K>* list_at(std::uint32_t offset) noexcept {
    return elements_in<K>(data_, offset);
  }
  template <ElementKind K>
  const Element<K>* list_at(std::uint32_t offset) const noexcept {
    return elements_in<K>(data_, offset);
  }

  void swap(XVec& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(ends_, other.ends_);
  }

 private:
  // The byte offsets where each slot's list ends (xvec_detail::slot_of_kind); a list begins
  // where the slot before it ends. 32 bits keep the vector small and bound a block at 4 GiB.
  using Ends = std::array<std::uint32_t, kind_count>;

  template <ElementKind K>
  static constexpr std::size_t slot = xvec_detail::slot_of_kind[kind_index(K)];

  template <ElementKind K>
  static std::size_t begin_offset(const Ends& ends) noexcept {
    if constexpr (slot<K> == 0) {
      return 0;
    } else {
      return ends[slot<K> - 1];
    }
  }
  template <ElementKind K>
  static std::size_t length_in(const Ends& ends) noexcept {
    const std::size_t bytes = ends[slot<K>] - begin_offset<K>(ends);
    // Always whole elements; said so that a test for an empty list compares the two ends.
    if (bytes % sizeof(Element<K>) != 0) __builtin_unreachable();
    return bytes / sizeof(Element<K>);
  }
  template <ElementKind K>
  static Element<K>* elements_in(std::byte* block, const Ends& ends) noexcept {
    return reinterpret_cast<Element<K>*>(block + begin_offset<K>(ends));
  }
  template <ElementKind K>
  static Element<K>* elements_in(std::byte* block, std::size_t offset) noexcept {
    return reinterpret_cast<Element<K>*>(block + offset);
  }

  template <ElementKind K>
  std::span<Element<K>> span() const noexcept {
    return {elements_in<K>(data_, ends_), length_in<K>(ends_)};
  }

  // The ends of a block holding lists of these lengths; std::bad_alloc when the block would
  // pass 4 GiB.
  static Ends ends_for(const Lengths& lengths);
  // A vector of the layout `ends` whose kind K list is made by fill(KindTag<K>{}, out, n), which
  // constructs n elements at out or throws having left none constructed. The kind `first` (if
  // any) is filled before the others, so that a fill that can throw runs while nothing else was
  // touched. Whatever throws, the elements made so far are destroyed and the block is freed.
  template <class Fill>
  static XVec build(const Ends& ends, Fill&& fill, std::size_t first = kind_count);
  // Rebuilds this vector with kind K's list replaced by `fill`'s n elements; every other list
  // is moved over (moves of elements never throw). A failure leaves this vector as it was.
  // Kept out of line: a length change is rare, and the code that reads lists stays small.
  template <ElementKind K, class Fill>
  [[gnu::noinline]] void rebuild_list(std::size_t n, Fill&& fill);
  // Shortens kind K's list to n < its length in place: its surplus elements are destroyed and
  // the lists behind it (bytes only, see slot_of_kind) slide down. Never allocates.
  template <ElementKind K>
  [[gnu::noinline]] void shrink_list(std::size_t n) noexcept;
  void release() noexcept;

  std::byte* data_ = nullptr;
  Ends ends_{};
};

// Kind K's list of a vector: a span of its elements that also changes the list's length.
// Like a reference, it is bound to its vector once made, and assigning to it assigns the
// elements. The length-changing calls rebuild the vector's block (see XVec); data() and
// the span taken before one are invalid after it.
template <ElementKind K>
class XVec::ListRef {
 public:
  using value_type = Element<K>;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  ListRef(const ListRef&) noexcept = default;

  std::span<value_type> span() const noexcept { return owner_->span<K>(); }
  operator std::span<value_type>() const noexcept { return span(); }
  operator std::span<const value_type>() const noexcept { return span(); }

  std::size_t size() const noexcept { return length_in<K>(owner_->ends_); }
  bool empty() const noexcept { return size() == 0; }
  value_type* data() const noexcept { return elements_in<K>(owner_->data_, owner_->ends_); }
  value_type* begin() const noexcept { return data(); }
  value_type* end() const noexcept { return data() + size(); }
  value_type& operator[](std::size_t j) const noexcept { return data()[j]; }
  value_type& at(std::size_t j) const {
    if (j >= size()) throw std::out_of_range("XVec list index out of range");
    return data()[j];
  }
  value_type& front() const noexcept { return data()[0]; }
  value_type& back() const noexcept { return data()[size() - 1]; }

  // The elements of `values`: the same length is assigned element by element, reusing
  // storage; another length builds the block anew.
  void assign(std::span<const value_type> values) const {
    if (values.size() == size()) {
      std::copy(values.begin(), values.end(), begin());
    } else {
      owner_->rebuild_list<K>(values.size(), [&](value_type* out) {
        std::uninitialized_copy(values.begin(), values.end(), out);
      });
    }
  }
  // n copies of value.
  void assign(std::size_t n, const value_type& value) const {
    owner_->rebuild_list<K>(n, [&](value_type* out) { std::uninitialized_fill_n(out, n, value); });
  }
  const ListRef& operator=(const ListRef& other) const {
    assign(other.span());
    return *this;
  }
  const ListRef& operator=(std::span<const value_type> values) const {
    assign(values);
    return *this;
  }
  const ListRef& operator=(std::initializer_list<value_type> values) const {
    assign(std::span<const value_type>(values.begin(), values.size()));
    return *this;
  }
  const ListRef& operator=(const std::vector<value_type>& values) const {
    assign(std::span<const value_type>(values));
    return *this;
  }
  const ListRef& operator=(std::vector<value_type>&& values) const {
    owner_->rebuild_list<K>(values.size(), [&](value_type* out) {
      std::uninitialized_move(values.begin(), values.end(), out);
    });
    return *this;
  }

  // The first n elements kept, any further ones the kind's zero. Shortening never allocates.
  void resize(std::size_t n) const {
    if (n < size()) {
      owner_->shrink_list<K>(n);
      return;
    }
    const std::size_t kept = std::min(n, size());
    value_type* const old = data();
    owner_->rebuild_list<K>(n, [&](value_type* out) {
      std::uninitialized_move_n(old, kept, out);
      std::uninitialized_value_construct_n(out + kept, n - kept);
    });
  }
  void clear() const { resize(0); }
  // Appends a copy of value; the block is built anew each time, so this is for building
  // short lists (tests, rare paths), not for filling a long one.
  void push_back(value_type value) const {
    const std::size_t n = size();
    value_type* const old = data();
    owner_->rebuild_list<K>(n + 1, [&](value_type* out) {
      std::uninitialized_move_n(old, n, out);
      std::construct_at(out + n, std::move(value));
    });
  }

  friend bool operator==(const ListRef& a, const std::vector<value_type>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const ListRef& a, const ListRef& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  friend class XVec;
  explicit ListRef(XVec& owner) noexcept : owner_(&owner) {}
  XVec* owner_;
};

template <class Fill>
XVec XVec::build(const Ends& ends, Fill&& fill, std::size_t first) {
  XVec result;
  const std::size_t total = ends.back();
  if (total == 0) return result;
  static_assert(*std::max_element(xvec_detail::alignment.begin(), xvec_detail::alignment.end()) <=
                    __STDCPP_DEFAULT_NEW_ALIGNMENT__,
                "the block is allocated with the default alignment of operator new");
  auto* const block = static_cast<std::byte*>(::operator new(total));
  std::uint32_t made = 0;  // bit k: kind k's elements are constructed
  const auto fill_kind = [&]<ElementKind K>(KindTag<K>) {
    if (made >> kind_index(K) & 1) return;
    fill(KindTag<K>{}, elements_in<K>(block, ends), length_in<K>(ends));
    made |= std::uint32_t{1} << kind_index(K);
  };
  try {
    if (first < kind_count) {
      for_each_kind([&]<ElementKind K>(KindTag<K> tag) {
        if (kind_index(K) == first) fill_kind(tag);
      });
    }
    for_each_kind(fill_kind);
  } catch (...) {
    for_each_kind([&]<ElementKind K>(KindTag<K>) {
      if (made >> kind_index(K) & 1)
        std::destroy_n(elements_in<K>(block, ends), length_in<K>(ends));
    });
    ::operator delete(block);
    throw;
  }
  result.data_ = block;
  result.ends_ = ends;
  return result;
}

template <ElementKind K, class Fill>
void XVec::rebuild_list(std::size_t n, Fill&& fill) {
  Lengths new_lengths = lengths();
  new_lengths[kind_index(K)] = n;
  XVec rebuilt = build(
      ends_for(new_lengths),
      [&]<ElementKind J>(KindTag<J>, Element<J>* out, std::size_t) {
        if constexpr (J == K) {
          fill(out);
        } else {
          static_assert(std::is_nothrow_move_constructible_v<Element<J>>);
          std::uninitialized_move_n(elements_in<J>(data_, ends_), length_in<J>(ends_), out);
        }
      },
      kind_index(K));
  swap(rebuilt);
}

template <ElementKind K>
void XVec::shrink_list(std::size_t n) noexcept {
  Element<K>* const elements = elements_in<K>(data_, ends_);
  const std::size_t length = length_in<K>(ends_);
  std::destroy(elements + n, elements + length);
  const std::size_t removed = (length - n) * sizeof(Element<K>);
  const std::size_t behind = ends_[slot<K>];
  if (behind != ends_.back()) {
    std::memmove(data_ + behind - removed, data_ + behind, ends_.back() - behind);
  }
  for (std::size_t s = slot<K>; s < kind_count; ++s) {
    ends_[s] = static_cast<std::uint32_t>(ends_[s] - removed);
  }
  if (ends_.back() == 0) release();
}

// Brings position into [lower, upper] (zeroing the velocity of a clamped component) and
// otherwise velocity into [velocity_min, velocity_max]; complex components part by part.
void clamp_particle(XVec& position, XVec& velocity, const XVec& lower, const XVec& upper,
                    const XVec& velocity_min, const XVec& velocity_max);

}  // namespace swarmtuner
