// The call boundary: how Python errors and internal failures travel and how they reach Python;
// with the text of str objects, and where each part finds its slice of the module state.
#pragma once

#include <exception>
#include <new>
#include <source_location>
#include <string>
#include <string_view>

#include "numeric_core/failure.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// ---- Text out of str objects and into them ----

// The UTF-8 of a str object. A str that UTF-8 cannot carry (a lone surrogate) raises the
// interpreter's UnicodeEncodeError as a PythonError (defined below).
std::string utf8_or_throw(PyObject* text);

// The interned str of `text`, as the module state keeps its names; throws PythonError when the
// interpreter cannot make it.
PyRef intern_or_throw(const char* text);

// Text of Python objects for messages, where no failure may stand in the way of the message.
// The UTF-8 of a str object for a message: characters that UTF-8 cannot carry become U+FFFD.
// Leaves no exception pending; an object that is not a str gives an empty text.
std::string utf8_lossy(PyObject* text);

// The qualified name (__qualname__) of the object's type, for a message; the type's C name
// when that attribute cannot be read. Leaves no exception pending.
std::string type_qualname(PyObject* object);

// A Python exception fetched from the interpreter, carried as a C++ exception until the
// boundary restores it unchanged.
class PythonError : public std::exception {
 public:
  PythonError(PyRef type, PyRef value, PyRef traceback) noexcept;
  const char* what() const noexcept override { return "Python error"; }

  // Sets this error as the interpreter's current exception. Not noexcept, like everything here
  // that may run Python code: releasing the error it replaces may.
  void restore() &&;
  // "PyErr { type: T, value: V, traceback: B }", normalising first; a failing repr is
  // reported as unraisable and replaced by "<unprintable ... object>".
  std::string describe();
  // True when the exception is an instance of `type` (a class object).
  bool matches(PyObject* type) const noexcept;
  // True for subclasses of Exception: the errors a search may discard. KeyboardInterrupt,
  // SystemExit and GeneratorExit are not ordinary.
  bool is_ordinary() const noexcept { return matches(PyExc_Exception); }
  // KeyboardInterrupt and SystemExit: Ctrl-C and sys.exit() end whatever the module is doing and
  // reach the caller as themselves, never wrapped into another exception.
  bool is_exit_request() const noexcept {
    return matches(PyExc_KeyboardInterrupt) || matches(PyExc_SystemExit);
  }

  PyObject* type() const noexcept { return type_.get(); }
  PyObject* value() const noexcept { return value_.get(); }
  PyObject* traceback() const noexcept { return traceback_.get(); }
  // Turns a lazily described exception (type plus raw value) into an instance (which runs the
  // class's constructor).
  void normalize();

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

// Fails with "<context>: <description of the pending Python error>". A KeyboardInterrupt or
// SystemExit is thrown on unchanged instead: no failure of the module turns Ctrl-C or sys.exit()
// into PanicException.
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
// Not noexcept: writing the report and making the exception run Python code.
void set_python_error_from_current_exception();

// Set on a thread once prepare_thread_once has run there.
inline thread_local constinit bool thread_prepared = false;
void prepare_thread_once() noexcept;

// Makes the per-thread storage that the C++ runtime and this module would otherwise make on
// first use, the first time a thread enters the module. The runtime's storage for the exception
// in flight is made by the thread's first throw, and where the runtime is a shared library
// opened after the thread started, that storage comes from the heap: when the first throw
// reports exhausted memory (std::bad_alloc, or the interpreter's MemoryError), the loader
// cannot make it either and ends the process. Made on entry, while there is memory, running
// out later is a MemoryError like any other. Once per thread; after that a test of the flag.
inline void prepare_thread() noexcept {
  if (!thread_prepared) [[unlikely]] {
    prepare_thread_once();
  }
}

}  // namespace detail

// Every function the interpreter calls runs its body through one of these. Everything this
// module throws derives from std::exception and is caught. Nothing else is: a forced unwind is
// no C++ exception, and a handler that caught every exception could not hand it on everywhere
// (libc++ ends the process when such a foreign exception is rethrown). So the boundaries catch
// std::exception only, and they are not noexcept, which would end the process at their frame.
// On the way out each releases what the body's destructors set aside (see PyRef).
template <class Body>
PyObject* call_boundary(Body&& body) {
  detail::prepare_thread();
  try {
    PyObject* const result = body();
    release_deferred_references();
    return result;
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    release_deferred_references();
    return nullptr;
  }
}

template <class Body>
int call_boundary_status(Body&& body) {
  detail::prepare_thread();
  try {
    body();
    release_deferred_references();
    return 0;
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    release_deferred_references();
    return -1;
  }
}

// For slots that cannot report an error (deallocation): a failure goes to the interpreter's
// unraisable hook.
template <class Body>
void call_boundary_unraisable(Body&& body) {
  detail::prepare_thread();
  try {
    body();
  } catch (const std::exception&) {
    detail::set_python_error_from_current_exception();
    PyErr_WriteUnraisable(nullptr);
  }
  release_deferred_references();
}

// ---- A part's slice of the module state ----
//
// Where a part finds what the module's initialisation made for it, without seeing the rest of
// the state.

namespace detail {
// One pointer per slice type, written once, under the interpreter lock, when the whole module
// state has been made (module.cpp).
template <class Slice>
inline const Slice* published_slice = nullptr;
}  // namespace detail

// Publishes one slice of a completely made module state; the state outlives the process's
// last call, so the slice stays valid from here on.
template <class Slice>
void publish_slice(const Slice& slice) noexcept {
  detail::published_slice<Slice> = &slice;
}

// The slice, or null when the module state was never made (no import yet, or a failed one).
template <class Slice>
const Slice* find_slice() noexcept {
  return detail::published_slice<Slice>;
}

// The slice, for code that runs only after a successful initialisation: the class's slots and
// methods, and everything they call.
template <class Slice>
const Slice& slice() noexcept {
  return *detail::published_slice<Slice>;
}

}  // namespace swarmtuner
