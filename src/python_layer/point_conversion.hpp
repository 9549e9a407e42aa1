// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "numeric_core/decimal.hpp"
#include "numeric_core/x_vec.hpp"
#include "python_layer/element_conversion.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The decimal objects most recently made for each decimal dimension of the points of one search.
// A decimal.Decimal is immutable and costly to build, and the same value often comes back
// (a component held at a bound or at rest, particles gathering at the swarm's best), so the
// objects of recent values are kept in a small table indexed by value and handed out again
// instead of being rebuilt; the lists stay fresh. Only identical values (same coefficient,
// scale and sign) share an object: 1.0 and 1.00 are different decimal objects.
class DecimalObjectCache {
 public:
  PyRef to_py(const Decimal& value);
  // A new list of the values' objects (or `spare`, a kept list of their number, filled).
  // Making a Decimal may run Python code (the pure-Python decimal module, or a collection that
  // runs callbacks), which must never meet a list with empty slots: the objects are all made
  // before the list.
  PyRef to_py_list(std::span<const Decimal> values, PyRef spare);

 private:
  static constexpr std::size_t slot_bits = 10;
  struct Slot {
    Decimal value;
    PyRef object;
  };
  std::vector<Slot> slots_;   // 2^slot_bits once the first decimal is converted
  std::vector<PyRef> items_;  // to_py_list's objects until the list takes them
  DecimalTexts texts_;
};

// The point conversions' slice of the module state: the keys of a point, the kind names in kind
// order, interned (also the keyword names of a call of f).
struct KindKeys {
  std::array<PyRef, kind_count> keys;
};

// Interns the keys, for the module state; throws PythonError when the interpreter cannot.
KindKeys intern_kind_keys();

// A dict with one list per kind that has components, keys in kind order (the kind names). The
// decimals are handed out by `decimals` (a search's cache, which has made most of them before).
PyRef xvec_to_py_dict(const XVec& point, DecimalObjectCache& decimals);

// The lists of the last call of f that only the search still held, kept for the next call's
// points of the same kinds instead of being freed and made again (a list costs more to make and
// free than the floats it holds). A list f kept, or one whose length f changed, is not kept.
// A kept list is not tracked by the collector, so no Python code can reach it, and keeps only
// the numbers (floats, complex numbers, ints) that nothing else refers to; it is filled as it is
// handed out, the new values written into those numbers where they fit. To f it is a fresh
// list of fresh numbers: nothing else refers to any of them, as to the objects Python takes
// from its own free lists.
//
// It is handed to f still untracked, and tracked again only if something besides the search
// refers to it once f has returned (track_if_shared). Tracking and untracking cost about as
// much as filling a one-element list, and a list that only the search refers to can be part of
// no reference cycle (a cycle through it would be a second reference), so the collector has
// nothing to find there; whatever f put into it counts, for the collector, as referred to from
// outside, as an untracked container's items do.
class SpareLists {
 public:
  // Whether kind K's lists are kept per point (select_point): the ints from 3.14 on, where the
  // interpreter makes every int through its public API and a kept int serves again only when
  // it already holds the new value. A point's own previous component often does (one at rest,
  // or held at a bound); another point's hardly ever.
  template <ElementKind K>
  static constexpr bool keeps_per_point =
      !cpython::ints_rewritable && (FixedWidthInt<Element<K>> || std::same_as<Element<K>, BigInt>);

  // The point whose call of f comes next: the lists kept per point come from, and go back to,
  // a slot its address picks, which holds what its previous call left unless another point
  // used the slot since.
  void select_point(const void* point) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(point);
    current_ = static_cast<std::size_t>((address >> 4) * 0x9E3779B97F4A7C15u >> (64 - slot_bits));
  }
  // The exact type of kind K's objects that a kept list keeps (whose values can be written
  // into them, or which may already hold the new value); null for decimals, which are not kept.
  template <ElementKind K>
  static PyTypeObject* kept_number_type() noexcept {
    using T = Element<K>;
    if constexpr (FixedWidthInt<T> || std::same_as<T, BigInt>) {
      return &PyLong_Type;
    } else if constexpr (std::floating_point<T>) {
      return &PyFloat_Type;
    } else if constexpr (ComplexElement<T>) {
      return &PyComplex_Type;
    } else {
      return nullptr;
    }
  }

  // The list kept for slot k (k-th kind of the point, kind K) if it has `size` slots; null
  // otherwise. A list it returns is untracked. Inlined: it runs for every list of every call.
  template <ElementKind K>
  [[gnu::always_inline]] PyRef take(std::size_t k, std::size_t size) {
    number_types_[k] = kept_number_type<K>();
    PyRef* held = &lists_[k];
    if constexpr (keeps_per_point<K>) {
      if ((per_point_ >> k & 1) == 0) keep_per_point(k);
      held = &by_point_[current_ * kind_count + k];
    }
    PyObject* const list = held->get();
    if (list == nullptr) return PyRef();
    if (static_cast<std::size_t>(PyList_GET_SIZE(list)) != size) [[unlikely]] {
      held->reset();
      return PyRef();
    }
    return std::move(*held);
  }
  // Keeps `list`, the slot k list of the call just made, if only the caller refers to it and
  // f left its length as it was made; otherwise releases it. `untracked` says whether it went
  // out untracked (a list take() returned). Releasing the items (f may have put objects of its
  // own there) may run Python code.
  void keep_or_release(std::size_t k, PyObject* list, bool untracked);
  // Before the caller releases its reference to a list of a call of f that went out
  // untracked: tracks it where something else (f, or what f stored it in) still refers to it.
  // Runs no Python code. Not while the interpreter shuts down, when a thread that may not hold
  // the lock touches no object (see PyRef).
  static void track_if_shared(PyObject* list, bool untracked) noexcept {
    if (untracked && !cpython::is_sole_reference(list) && !cpython::is_finalizing()) {
      PyObject_GC_Track(list);
    }
  }

 private:
  static constexpr unsigned slot_bits = 8;  // 256 slots: few points of a usual swarm share one

  // Keeps slot k's lists per point from now on.
  void keep_per_point(std::size_t k);

  // Where slot k's list is kept for the current point.
  PyRef& kept(std::size_t k) noexcept {
    return (per_point_ >> k & 1) != 0 ? by_point_[current_ * kind_count + k] : lists_[k];
  }

  std::array<PyRef, kind_count> lists_;
  std::vector<PyRef> by_point_;  // kind_count per point slot, once a kind is kept per point
  std::size_t current_ = 0;
  std::uint32_t per_point_ = 0;  // bit k: slot k's lists are kept per point
  std::array<PyTypeObject*, kind_count> number_types_{};  // slot k's kept_number_type
};

// Inline: drop() calls it for every list of every call.
inline void SpareLists::keep_or_release(std::size_t k, PyObject* list, bool untracked) {
  PyRef& slot = kept(k);
  if (!cpython::is_sole_reference(list) || slot) {
    track_if_shared(list, untracked);
    Py_DECREF(list);
    return;
  }
  PyRef owned = PyRef::steal(list);
  // Untracked first (a list made for this call is tracked): while its items are released
  // below, Python code may run, and the list, with empty slots, must not be found by it.
  if (!untracked) PyObject_GC_UnTrack(list);
  PyListObject* const items = reinterpret_cast<PyListObject*>(list);
  const Py_ssize_t size = PyList_GET_SIZE(list);
  slot = std::move(owned);
  const PyTypeObject* const number_type = number_types_[k];
  for (Py_ssize_t j = 0; j < size; ++j) {
    // A number of the kind's own type that only the list holds stays, for the next call to
    // write its new value into (nothing else can reach it to see the change), or to hand out
    // again where it already holds that value; anything else goes.
    PyObject* const item = items->ob_item[j];
    if (item != nullptr && Py_TYPE(item) == number_type && cpython::is_sole_reference(item) &&
        (number_type != &PyLong_Type || cpython::int_may_serve_again(item))) {
      continue;
    }
    items->ob_item[j] = nullptr;
    Py_XDECREF(item);
  }
}

// The lists of a point without the dict, for a call of f with keyword names: one list per kind
// that has components, in kind order, behind one free slot (the vectorcall protocol lets a
// callee use the slot before its arguments: PY_VECTORCALL_ARGUMENTS_OFFSET). The lists are
// owned here until drop() releases them; a PointLists left by unwinding releases them as a
// PyRef does.
class PointLists {
 public:
  PointLists() noexcept = default;
  PointLists(const PointLists&) = delete;
  PointLists& operator=(const PointLists&) = delete;
  ~PointLists() {
    for (std::size_t k = 1; k <= count_; ++k) {
      if (slots_[k] == nullptr) continue;
      SpareLists::track_if_shared(slots_[k], went_out_untracked(k));
      const PyRef list = PyRef::steal(slots_[k]);  // released as a PyRef releases
    }
  }

  PyObject* const* arguments() const noexcept { return slots_.data() + 1; }
  std::size_t count() const noexcept { return count_; }
  PyObject* list(std::size_t k) const noexcept { return slots_[k + 1]; }

  // `untracked`: a spare list (SpareLists::take), which the collector does not track.
  void append(PyRef list, bool untracked) noexcept {
    slots_[count_ + 1] = list.release();
    ++count_;
    if (untracked) untracked_ |= std::uint32_t{1} << count_;
  }
  // Releases every list at once, in kind order, from this ordinary frame, or leaves it to
  // `spares` for the next call: f may have kept them, or put objects of its own into them, so
  // this may run Python code.
  void drop(SpareLists* spares) {
    for (std::size_t k = 1; k <= count_; ++k) {
      PyObject* const list = std::exchange(slots_[k], nullptr);
      if (list == nullptr) continue;
      if (spares != nullptr) {
        spares->keep_or_release(k - 1, list, went_out_untracked(k));
      } else {
        SpareLists::track_if_shared(list, went_out_untracked(k));
        Py_DECREF(list);
      }
    }
    count_ = 0;
    untracked_ = 0;
  }

 private:
  bool went_out_untracked(std::size_t slot) const noexcept { return (untracked_ >> slot & 1) != 0; }

  std::array<PyObject*, kind_count + 1> slots_;  // [1, 1 + count_) owned, null once dropped
  std::size_t count_ = 0;
  std::uint32_t untracked_ = 0;  // bit k: the list in slots_[k] is untracked
};

// Makes the lists of `point` into `lists`, which is empty: one for each kind in `kinds`, which
// are the kinds with components (point.kinds(), or what a search knows of all its points).
// With `spares`, the lists it kept are filled instead of new ones where they fit.
void xvec_to_py_lists(const XVec& point, std::uint32_t kinds, PointLists& lists,
                      DecimalObjectCache& decimals, SpareLists* spares);

}  // namespace swarmtuner
