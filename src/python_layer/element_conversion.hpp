// Conversions between Python objects and element values, component lists and whole points.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "numeric_core/decimal_bound.hpp"
#include "numeric_core/x_vec.hpp"
#include "python_layer/boundary.hpp"

namespace swarmtuner {

// The f64 rule: an exact float is read as it is, anything else through __float__ or __index__.
// Also the rule of the coefficient settings (c1, c2, inertia, max_v).
double read_double(PyObject* object);

// The rule of the count settings (n_iters, n_particles): index conversion (int, bool and
// anything with __index__, never float) to an unsigned 64-bit integer; negative values and
// values of 2**64 or more raise the interpreter's OverflowError.
std::uint64_t read_u64(PyObject* object);

// One element of kind K from a Python object; throws PythonError with the interpreter's or
// this module's exception on failure.
template <ElementKind K>
Element<K> extract_element(PyObject* object);

// A bound argument: a sequence (not a str) of elements of kind K, in iteration order.
// Throws PythonError (TypeError "Can't extract `str` to `Vec`", the 'Sequence' TypeError,
// or the first bad item's error).
template <ElementKind K>
std::vector<Element<K>> extract_component_list(PyObject* object);

// The same for a bound of kind "d": digits that no decimal keeps round towards the inside of
// the range, so a lower bound never moves down and an upper bound never up.
std::vector<Decimal> extract_decimal_bound_list(PyObject* object, BoundSide side);

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

// decimal.Decimal, or why it could not be had.
struct DecimalClass {
  PyRef type;                // null when the import failed or gave no class
  std::string load_failure;  // then the description of the Python error
};

// Imports decimal.Decimal, for the module state. When decimal cannot be had (it cannot be
// imported, or its Decimal is no class), the reason is kept instead and every conversion of a
// decimal to Python fails with "failed to load decimal.Decimal: ..."; searches without decimals
// still work. MemoryError and exceptions that are not Exceptions are thrown: the import fails.
DecimalClass load_decimal_class();

}  // namespace swarmtuner
