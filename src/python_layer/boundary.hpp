// The call boundary: how Python errors and internal failures travel and how they reach Python.
#pragma once

#include <exception>
#include <new>
#include <source_location>
#include <string>
#include <string_view>

#include "numeric_core/failure.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// A Python exception fetched from the interpreter, carried as a C++ exception until the
// boundary restores it unchanged.
class PythonError : public std::exception {
 public:
  PythonError(PyRef type, PyRef value, PyRef traceback) noexcept;
  const char* what() const noexcept override { return "Python error"; }

  // Sets this error as the interpreter's current exception.
  void restore() && noexcept;
  // "PyErr { type: T, value: V, traceback: B }", normalising first; a failing repr is
  // reported as unraisable and replaced by "<unprintable ... object>".
  std::string describe();
  // True when the exception is an instance of `type` (a class object).
  bool matches(PyObject* type) const noexcept;
  // True for subclasses of Exception: the errors a search may discard. KeyboardInterrupt,
  // SystemExit and GeneratorExit are not ordinary.
  bool is_ordinary() const noexcept { return matches(PyExc_Exception); }

  PyObject* type() const noexcept { return type_.get(); }
  PyObject* value() const noexcept { return value_.get(); }
  PyObject* traceback() const noexcept { return traceback_.get(); }
  // Turns a lazily described exception (type plus raw value) into an instance.
  void normalize() noexcept;

 private:
  PyRef type_, value_, traceback_;
};

// An internal failure that already had its report written: a PanicException raised by Python
// code called from here, which fetch_python_error turns back into a failure of this call.
class ResumedPanic : public InternalFailure {
 public:
  using InternalFailure::InternalFailure;
};

// Two failure policies run through the Python layer, and every helper says which one it follows:
// - a Python error is passed on to the caller unchanged: thrown as PythonError, its helpers
//   say "throw" or "raise" (throw_python_error, steal_or_throw, raise);
// - an internal failure ends the whole call and reaches Python as PanicException after a report
//   on standard error: its helpers say "panic" (steal_or_panic, panic_with_python_error), and
//   the numeric core's fail() is the same failure.

// Takes the pending Python exception. A pending PanicException is not returned: its text is
// reported on standard error with the interpreter's report, and an InternalFailure with that
// text is thrown instead. With nothing pending, SystemError
// "attempted to fetch exception but none was set" is returned.
[[nodiscard]] PythonError fetch_python_error();

// Throws fetch_python_error() (or the InternalFailure it raises).
[[noreturn]] void throw_python_error();

// Takes the pending Python error where an ordinary error may be dropped (a conversion that
// falls back to another route, a length that is only a hint). Only subclasses of Exception are
// dropped: KeyboardInterrupt, SystemExit and GeneratorExit are thrown on unchanged, so no
// signal is lost.
void discard_ordinary_python_error();

// Steals a new reference returned by the C API, or throws the pending error when it is null.
[[nodiscard]] PyRef steal_or_throw(PyObject* result);

// A new Python error of the given class and text, ready to throw.
[[nodiscard]] PythonError make_python_error(PyObject* type, const std::string& message);
[[noreturn]] void raise(PyObject* type, const std::string& message);

// Prints the pending Python error to the interpreter's error stream and fails with
// "Python API call failed".
[[noreturn]] void panic_python_api_call_failed(std::source_location where);

// Steals a new reference returned by the C API. A null result (the interpreter could not make
// the object) is panic_python_api_call_failed. Inline: outbound conversions call it for every
// element they hand to Python.
[[nodiscard]] inline PyRef steal_or_panic(
    PyObject* result, std::source_location where = std::source_location::current()) {
  if (result == nullptr) [[unlikely]] {
    panic_python_api_call_failed(where);
  }
  return PyRef::steal(result);
}

// Fails with "<context>: <description of the pending Python error>".
[[noreturn]] void panic_with_python_error(
    std::string_view context, std::source_location where = std::source_location::current());
// The same with an error already fetched.
[[noreturn]] void panic_with_python_error(
    std::string_view context, PythonError error,
    std::source_location where = std::source_location::current());

// The boundary's slice of the module state.
struct BoundaryState {
  PyRef panic_exception;  // pyo3_runtime.PanicException
};

// A new PanicException class ("pyo3_runtime.PanicException", derived from BaseException).
// Made once, for the module state; throws PythonError when the interpreter refuses.
PyRef create_panic_exception_type();

// The PanicException class of the module state; null before the state exists.
PyObject* panic_exception_type() noexcept;

namespace detail {
// Turns the in-flight exception into a Python exception: PythonError restored, InternalFailure
// reported once on standard error and raised as PanicException, std::bad_alloc as MemoryError.
void set_python_error_from_current_exception() noexcept;

}  // namespace detail

// Runs a call that may run Python code (f, a comparison, __neg__). The call is C code, so the
// only way out of it other than returning is a forced unwind: the C library ends a thread that
// way (pthread_exit, which CPython calls on a daemon thread that wakes up while the interpreter
// shuts down). That thread no longer holds the interpreter lock, so every reference is
// abandoned before the frames that hold them unwind (see abandon_references); the unwind
// itself goes on to the end of the stack.
template <class Call>
auto run_python_code(Call&& call) {
  struct AbandonUnlessReturned {
    bool returned = false;
    ~AbandonUnlessReturned() {
      if (!returned) abandon_references();
    }
  } guard;
  auto result = call();
  guard.returned = true;
  return result;
}

// Every function the interpreter calls runs its body through one of these. Everything this
// module throws derives from std::exception and is caught. Nothing else is: a forced unwind is
// no C++ exception, and a handler that caught every exception could not hand it on everywhere
// (libc++ ends the process when such a foreign exception is rethrown). So the boundaries catch
// std::exception only, and they are not noexcept, which would end the process at their frame.
template <class Body>
PyObject* call_boundary(Body&& body) {
  try {
    return body();
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    return nullptr;
  }
}

template <class Body>
int call_boundary_status(Body&& body) {
  try {
    body();
    return 0;
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    return -1;
  }
}

// For slots that cannot report an error (deallocation): a failure goes to the interpreter's
// unraisable hook.
template <class Body>
void call_boundary_unraisable(Body&& body) {
  try {
    body();
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    PyErr_WriteUnraisable(nullptr);
  }
}

}  // namespace swarmtuner
