// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// The same lists without the dict, for a call with keyword names: lists[0..count) in kind
// order; `kinds` gets bit k set for every kind k that has components.
std::size_t xvec_to_py_lists(const XVec& point, std::array<PyRef, kind_count>& lists,
                             std::uint32_t& kinds, DecimalObjectCache& decimals);

}  // namespace swarmtuner
