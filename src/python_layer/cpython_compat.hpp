// What differs between the CPython versions the module supports, behind one small interface:
// every version test and every private layout or call of the interpreter lives here. The rest
// of the module speaks the C API's own terms through it (a new reference, or null or -1 with
// an exception set) and reads as the same rules on every version.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace swarmtuner::cpython {

// True once the interpreter has begun to shut down. From then on CPython (3.10 to 3.13) ends
// every other thread that tries to take the interpreter lock, by pthread_exit.
inline bool is_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// The value of an exact int whose magnitude fits one digit (below 2^30, say, which covers the
// small counts and scores objectives return), read from the int without a call; nullopt for
// any other int. 3.12 and later name this test and read in their headers; before, the sign
// and the digit count are ob_size.
inline std::optional<Py_ssize_t> one_digit_long_value(PyObject* integer) noexcept {
  PyLongObject* const value = reinterpret_cast<PyLongObject*>(integer);
#if PY_VERSION_HEX >= 0x030C0000
  if (!PyUnstable_Long_IsCompact(value)) return std::nullopt;
  return PyUnstable_Long_CompactValue(value);
#else
  const Py_ssize_t size = Py_SIZE(value);
  if (size < -1 || size > 1) return std::nullopt;
  return size * static_cast<Py_ssize_t>(value->ob_digit[0]);
#endif
}

// True when the caller's reference to `object` is its only one, so that no other code can
// reach it (the collector aside). Never on a free-threaded build, where another thread's
// references are not all counted in one place.
inline bool is_sole_reference(PyObject* object) noexcept {
#ifdef Py_GIL_DISABLED
  static_cast<void>(object);
  return false;
#else
  return Py_REFCNT(object) == 1;
#endif
}

// Writes a new value into an exact float or complex object that only the caller refers to
// (is_sole_reference): no code can then tell it from a new object of that value.
inline void set_float_value(PyObject* number, double value) noexcept {
  reinterpret_cast<PyFloatObject*>(number)->ob_fval = value;
}
inline void set_complex_value(PyObject* number, double real, double imag) noexcept {
  reinterpret_cast<PyComplexObject*>(number)->cval = Py_complex{real, imag};
}

// Whether rewrite_one_digit_long writes ints: before 3.14, into the int layouts of those
// released, frozen versions; from 3.14 on, only the public API makes ints, and an int serves
// again only where it already holds the value.
inline constexpr bool ints_rewritable = PY_VERSION_HEX < 0x030E0000;

// Whether a kept exact int may serve a later value (rewrite_one_digit_long,
// rewrite_long_digits): before 3.14 any int, whose digits are written over; from 3.14 on only
// an int of one digit, which serves again where it already holds the value.
inline bool int_may_serve_again([[maybe_unused]] PyObject* integer) noexcept {
#if PY_VERSION_HEX >= 0x030E0000
  return PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(integer)) != 0;
#else
  return true;
#endif
}

// Makes an exact int that only the caller refers to (is_sole_reference) hold `value`, where
// both the int and the value have one digit and the value is no small int (-5 to 256, of which
// the interpreter keeps one object each): no code can then tell it from a new int of that
// value. Before 3.14 the value is written (the layouts are those finish_long writes); from
// 3.14 on, only an int that already holds it qualifies. False, with nothing written, otherwise.
inline bool rewrite_one_digit_long([[maybe_unused]] PyObject* integer,
                                   [[maybe_unused]] std::int64_t value) noexcept {
#if PY_VERSION_HEX >= 0x030E0000
  PyLongObject* const number = reinterpret_cast<PyLongObject*>(integer);
  return PyLong_CheckExact(integer) && PyUnstable_Long_IsCompact(number) &&
         PyUnstable_Long_CompactValue(number) == value;
#else
  if (value >= -5 && value <= 256) return false;
  const std::uint64_t magnitude = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                            : static_cast<std::uint64_t>(value);
  if (magnitude >> PyLong_SHIFT != 0 || !PyLong_CheckExact(integer)) return false;
  PyLongObject* const number = reinterpret_cast<PyLongObject*>(integer);
#if PY_VERSION_HEX >= 0x030C0000
  // lv_tag: the digit count above three bits, the sign in the two lowest (2 for negative).
  if (number->long_value.lv_tag >> 3 != 1) return false;
  number->long_value.lv_tag = (std::uintptr_t{1} << 3) | (value < 0 ? 2u : 0u);
  number->long_value.ob_digit[0] = static_cast<digit>(magnitude);
#else
  const Py_ssize_t size = Py_SIZE(integer);
  if (size != 1 && size != -1) return false;
  Py_SET_SIZE(integer, value < 0 ? -1 : 1);
  number->ob_digit[0] = static_cast<digit>(magnitude);
#endif
  return true;
#endif
}

// Writes the digits of a value of `count` digits (count > 1, top digit non-zero), which
// `write(void* digits)` writes in the layout of writable_digit_layout(), into an exact int of
// as many digits that only the caller refers to (is_sole_reference), as rewrite_one_digit_long
// does for one digit. False, with nothing written, otherwise.
template <class Write>
bool rewrite_long_digits([[maybe_unused]] PyObject* integer, [[maybe_unused]] bool negative,
                         [[maybe_unused]] std::size_t count,
                         [[maybe_unused]] Write&& write) noexcept {
#if PY_VERSION_HEX >= 0x030E0000
  return false;
#else
  if (!PyLong_CheckExact(integer)) return false;
  PyLongObject* const number = reinterpret_cast<PyLongObject*>(integer);
#if PY_VERSION_HEX >= 0x030C0000
  if (number->long_value.lv_tag >> 3 != count) return false;
  write(static_cast<void*>(number->long_value.ob_digit));
  number->long_value.lv_tag = (static_cast<std::uintptr_t>(count) << 3) | (negative ? 2u : 0u);
#else
  const Py_ssize_t size = Py_SIZE(integer);
  if (static_cast<std::size_t>(size < 0 ? -size : size) != count) return false;
  write(static_cast<void*>(number->ob_digit));
  const auto digits = static_cast<Py_ssize_t>(count);
  Py_SET_SIZE(integer, negative ? -digits : digits);
#endif
  return true;
#endif
}

// True when a str the caller made and holds may be written over in place: no other reference
// to it, and nothing derived from its characters kept in it (hash, interning, and before 3.12
// the wide-character copy), which are CPython's own conditions for modifying a str. Never on a
// free-threaded build.
inline bool is_rewritable_str(PyObject* text) noexcept {
  if (!is_sole_reference(text) || !PyUnicode_CheckExact(text)) return false;
  const PyASCIIObject* const ascii = reinterpret_cast<const PyASCIIObject*>(text);
  if (ascii->hash != -1 || PyUnicode_CHECK_INTERNED(text) != 0) return false;
#if PY_VERSION_HEX < 0x030C0000
  if (ascii->wstr != nullptr) return false;
#endif
  return true;
}

// What a run of the module's (single-phase) initialisation is for: where the versions differ
// is whether, and where, CPython runs it for a sub-interpreter's import.
enum class InitialisationRun {
  // The module made by this run is the importing interpreter's.
  for_importer,
  // The importer is a sub-interpreter that takes no module with a single-phase initialisation
  // and would refuse this one once made; CPython's ImportError is set.
  refused,
  // A run in the main interpreter for a sub-interpreter's import: CPython drops the module and
  // keeps only the initialisation function, which the importer runs once more, itself, unless
  // it refuses such modules.
  on_behalf_of_sub_interpreter,
};

// What the current run of the initialisation of the module `name` is for. Called first thing in
// it, with the interpreter lock held; runs no Python code.
InitialisationRun initialisation_run(const char* name) noexcept;

// The little-endian two's complement bytes of an int into `size` bytes: 0, or -1 with an
// exception set (OverflowError "int too big to convert" when it needs more, on every version).
int long_as_signed_le_bytes(PyObject* integer, unsigned char* bytes, std::size_t size);

// An int from `size` little-endian two's complement bytes; null with an exception set.
PyObject* long_from_signed_le_bytes(const unsigned char* bytes, std::size_t size);

// The number of bytes of an int's two's complement form, sign bit included; -1 with an
// exception set.
Py_ssize_t long_signed_byte_size(PyObject* integer);

// The digits of this interpreter's ints: least significant first, each `digit_size` bytes
// holding `bits_per_digit` bits of the magnitude.
struct DigitLayout {
  unsigned bits_per_digit;
  unsigned digit_size;
};

// The layout, where new ints can be made by writing their digits; nullopt where only the
// byte exchange is open (a layout of PyLongWriter's that is not least significant first).
#if PY_VERSION_HEX >= 0x030E0000
namespace detail {
// The interpreter's answer, read once when the module is loaded (the import): it describes
// the ints of the whole process, and asking for it costs a call per int written.
extern const std::optional<DigitLayout> native_digit_layout;
}  // namespace detail
inline std::optional<DigitLayout> writable_digit_layout() noexcept {
  return detail::native_digit_layout;
}
#else
// Before 3.14 it is the build's own, known when the module is compiled: every int written
// asks, and the answer costs nothing.
inline std::optional<DigitLayout> writable_digit_layout() noexcept {
  return DigitLayout{PyLong_SHIFT, sizeof(digit)};
}
#endif

namespace detail {
// Starts an int of `count` digits (count > 0, where writable_digit_layout() has a layout) and
// points `digits` at them; null with an exception set when it cannot be made.
// finish_long: the int begun, with every digit written: a new reference, or null with an
// exception set.
#if PY_VERSION_HEX >= 0x030E0000
// PyLongWriter: the public way to write an int's digits, called straight from the writer.
inline void* begin_long(bool negative, std::size_t count, void** digits) noexcept {
  return PyLongWriter_Create(negative ? 1 : 0, static_cast<Py_ssize_t>(count), digits);
}
inline PyObject* finish_long(void* started, bool, std::size_t) noexcept {
  return PyLongWriter_Finish(static_cast<PyLongWriter*>(started));
}
#else
void* begin_long(bool negative, std::size_t count, void** digits) noexcept;
PyObject* finish_long(void* started, bool negative, std::size_t count) noexcept;
#endif
}  // namespace detail

// A new int made from its magnitude's digits, which `write(void* digits)` writes, exactly
// `count` of them with the top one non-zero (the int's value is beyond what a small int
// cache holds), in the layout of writable_digit_layout(). Null with an exception set.
template <class Write>
PyObject* long_from_digits(bool negative, std::size_t count, Write&& write) noexcept {
  void* digits = nullptr;
  void* const started = detail::begin_long(negative, count, &digits);
  if (started == nullptr) return nullptr;
  write(digits);
  return detail::finish_long(started, negative, count);
}

}  // namespace swarmtuner::cpython
