// Conversions between Python objects and element values, component lists and whole points.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "boundary.hpp"
#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

// One element of kind K from a Python object; throws PythonError with the interpreter's or
// this module's exception on failure.
template <ElementKind K>
Element<K> extract_element(PyObject* object);

// A bound argument: a sequence (not a str) of elements of kind K, in iteration order.
// Throws PythonError (TypeError "Can't extract `str` to `Vec`", the 'Sequence' TypeError,
// or the first bad item's error).
template <ElementKind K>
std::vector<Element<K>> extract_component_list(PyObject* object);

// New Python objects from element values. Failures are internal failures.
template <ElementKind K>
PyRef element_to_py(const Element<K>& value);
template <ElementKind K>
PyRef components_to_py_list(const std::vector<Element<K>>& components);

// A dict with one list per kind that has components, keys in kind order ("i8" ... "d").
PyRef xvec_to_py_dict(const XVec& point);

// The decimal objects most recently made for each "d" dimension of the points of one search.
// A decimal.Decimal is immutable and costly to build, and the same value often comes back
// (a component held at a bound or at rest, particles gathering at the swarm's best), so the
// objects of recent values are kept in a small table indexed by value and handed out again
// instead of being rebuilt; the lists stay fresh. Only identical values (same coefficient,
// scale and sign) share an object: 1.0 and 1.00 are different decimal objects.
class DecimalObjects {
 public:
  PyRef to_py(const Decimal& value);

 private:
  static constexpr std::size_t slot_bits = 10;
  struct Slot {
    Decimal value;
    PyRef object;
  };
  std::vector<Slot> slots_;  // 2^slot_bits once the first decimal is converted
};

// The same lists without the dict, for a call with keyword names: lists[0..count) in kind
// order; `kinds` gets bit k set for every kind k that has components.
std::size_t xvec_to_py_lists(const XVec& point, std::array<PyRef, kind_count>& lists,
                             std::uint32_t& kinds, DecimalObjects& decimals);

// The interned name of a kind ("i8" ... "d"), created once per process and never released.
PyObject* kind_key(ElementKind kind);

}  // namespace swarmtuner
