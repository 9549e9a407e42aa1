// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "numeric_core/decimal.hpp"
#include "numeric_core/x_vec.hpp"
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
  // A new list of the values' objects. Making a Decimal may run Python code (the pure-Python
  // decimal module, or a collection that runs callbacks), which must never meet a list with
  // empty slots: the objects are all made before the list.
  PyRef to_py_list(const std::vector<Decimal>& values);

 private:
  static constexpr std::size_t slot_bits = 10;
  struct Slot {
    Decimal value;
    PyRef object;
  };
  std::vector<Slot> slots_;   // 2^slot_bits once the first decimal is converted
  std::vector<PyRef> items_;  // to_py_list's objects until the list takes them
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
      const PyRef list = PyRef::steal(slots_[k]);  // released as a PyRef releases
    }
  }

  PyObject* const* arguments() const noexcept { return slots_.data() + 1; }
  std::size_t count() const noexcept { return count_; }
  // Bit k set for every kind k that has a list.
  std::uint32_t kinds() const noexcept { return kinds_; }
  PyObject* list(std::size_t k) const noexcept { return slots_[k + 1]; }

  void append(PyRef list, ElementKind kind) noexcept {
    slots_[count_ + 1] = list.release();
    ++count_;
    kinds_ |= std::uint32_t{1} << kind_index(kind);
  }
  // Releases every list at once, in kind order, from this ordinary frame: f may have kept them,
  // or put objects of its own into them, so this may run Python code.
  void drop() {
    for (std::size_t k = 1; k <= count_; ++k) {
      if (PyObject* const list = std::exchange(slots_[k], nullptr)) Py_DECREF(list);
    }
    count_ = 0;
  }

 private:
  std::array<PyObject*, kind_count + 1> slots_;  // [1, 1 + count_) owned, null once dropped
  std::size_t count_ = 0;
  std::uint32_t kinds_ = 0;
};

// Makes the lists of `point` into `lists`, which is empty.
void xvec_to_py_lists(const XVec& point, PointLists& lists, DecimalObjectCache& decimals);

}  // namespace swarmtuner
