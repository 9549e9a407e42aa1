// Conversions between Python objects and element values of each kind, and bound lists.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "numeric_core/decimal_bound.hpp"
#include "numeric_core/x_vec.hpp"
#include "python_layer/boundary.hpp"
#include "python_layer/cpython_compat.hpp"

namespace swarmtuner {

// One element of kind K from a Python object; throws PythonError with the interpreter's or
// this module's exception on failure.
template <ElementKind K>
Element<K> extract_element(PyObject* object);

// A bound argument: a sequence (not a str) of elements of kind K, in iteration order, with
// the rule of kind K's bounds. That is the rule of its elements, except for decimals: digits
// that no decimal keeps round towards the inside of the range (side), so a lower bound never
// moves down and an upper bound never up. Throws PythonError (TypeError "Can't extract `str`
// to `Vec`", the 'Sequence' TypeError, the first bad item's error, or what a signal handler
// raises while the items are read), or std::bad_alloc before reading when the sequence's
// length cannot be held.
template <ElementKind K>
std::vector<Element<K>> extract_bound_list(PyObject* object, BoundSide side);

// New Python objects from element values. Failures are internal failures.
template <ElementKind K>
PyRef element_to_py(const Element<K>& value);

// The same as the C API's constructors make objects: a new reference, or null with the Python
// error set. Making these objects runs no Python code and allocates no object that the cyclic
// garbage collector tracks, so no collection can start either. Deleted for decimals, whose
// objects come from calling decimal.Decimal.
template <ElementKind K>
PyObject* new_element_object(const Element<K>& value);
template <>
PyObject* new_element_object<ElementKind::D>(const Decimal& value) = delete;

// rewrite_element_object for a big integer beyond a word: the digits of a value of as many
// digits as the int has.
bool rewrite_big_int_object(PyObject* object, const BigInt& value) noexcept;

// Writes `value` into `object` in place of making a new object, where `object` is an object of
// the type kind K's values become that only the caller refers to: for the kinds whose objects
// hold nothing but the number (floats, complex numbers, and where the interpreter allows it
// ints of as many digits as the value). False, with nothing written, for the other kinds and
// values and for an object of another type.
template <ElementKind K>
inline bool rewrite_element_object(PyObject* object, const Element<K>& value) noexcept {
  using T = Element<K>;
  if constexpr (FixedWidthInt<T> || std::same_as<T, BigInt>) {
    std::int64_t word;
    if constexpr (std::same_as<T, BigInt>) {
      const std::optional<std::int64_t> small = value.to_i64();
      if (!small) return rewrite_big_int_object(object, value);
      word = *small;
    } else if constexpr (std::same_as<T, Int128>) {
      word = static_cast<std::int64_t>(value);
      if (word != value) return false;
    } else {
      word = value;
    }
    return cpython::rewrite_one_digit_long(object, word);
  } else if constexpr (std::floating_point<T>) {
    if (!PyFloat_CheckExact(object)) return false;
    cpython::set_float_value(object, static_cast<double>(value));
    return true;
  } else if constexpr (ComplexElement<T>) {
    if (!PyComplex_CheckExact(object)) return false;
    cpython::set_complex_value(object, static_cast<double>(value.re),
                               static_cast<double>(value.im));
    return true;
  } else {
    return false;
  }
}

// The kinds whose objects new_element_object makes.
template <ElementKind K>
concept MadeByCApi = requires(const Element<K>& value) {
  new_element_object<K>(value);
};

// The texts decimal.Decimal reads new decimals from: one str per length, written over for
// each value while nothing else holds it, rather than a str made and freed for every decimal.
class DecimalTexts {
 public:
  // A str holding the value's text (Decimal::write_text), owned here; valid until the next
  // call. Failures are internal failures.
  PyObject* text_of(const Decimal& value);

 private:
  std::array<PyRef, Decimal::max_text_length + 1> by_length_;
};

// A new decimal.Decimal of `value`, as element_to_py makes it; its text goes through `texts`.
PyRef decimal_to_py(const Decimal& value, DecimalTexts& texts);

// ---- Python numbers read as C numbers ----

// The f64 rule: an exact float is read as it is, anything else through __float__ or __index__.
// Also the rule of the coefficient settings (c1, c2, inertia, max_v).
double read_double(PyObject* object);

// The rule of the count settings (n_iters, n_particles): index conversion (int, bool and
// anything with __index__, never float) to an unsigned 64-bit integer; negative values and
// values of 2**64 or more raise the interpreter's OverflowError.
std::uint64_t read_u64(PyObject* object);

// ---- The decimal.Decimal class ----

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
