// PyRef: the one owning handle for PyObject*; every reference the module holds lives in one.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>
#include <vector>

#include "python_layer/cpython_compat.hpp"

namespace swarmtuner {

// Releasing a reference may run Python code (a __del__, a weakref callback, a finaliser), and
// Python code may release the interpreter lock. While CPython 3.10 to 3.13 shuts down, a daemon
// thread that takes the lock back is ended by pthread_exit: a forced unwind through whatever
// frames are running, without the lock. Two rules keep that unwind harmless:
// - a destructor never runs Python code: the last reference to an object whose release might
//   is set aside, and released later by release_deferred_references() from an ordinary frame,
//   which such an unwind passes like any other (destructors are noexcept, and an unwind
//   leaving one ends the process);
// - a destructor that runs while the interpreter shuts down, on a thread that does not hold the
//   lock, touches no object: that is the forced unwind of an ended thread, and what its frames
//   held is left to the exiting process.
namespace detail {

// References set aside by destructors. Only read and written with the interpreter lock held,
// which guards it: the module is initialised in one interpreter only.
inline std::vector<PyObject*> deferred_references;

// Plain numbers and strings hold no other object, so releasing them runs no Python code.
inline bool release_runs_no_python_code(PyObject* object) noexcept {
  if (Py_REFCNT(object) > 1) return true;
  const PyTypeObject* type = Py_TYPE(object);
  return type == &PyFloat_Type || type == &PyLong_Type || type == &PyUnicode_Type ||
         type == &PyComplex_Type || type == &PyBytes_Type;
}

// The out-of-line paths of ~PyRef (py_ref.cpp).
void defer_release(PyObject* object) noexcept;
void release_while_finalizing(PyObject* object) noexcept;

}  // namespace detail

namespace detail {
void release_deferred_references_now();  // py_ref.cpp
}  // namespace detail

// Releases every reference that destructors set aside. May run Python code: call it from an
// ordinary frame with the interpreter lock held. A pending Python error is kept. Inline: it runs
// before every call of f, where the list is almost always empty.
inline void release_deferred_references() {
  if (!detail::deferred_references.empty()) [[unlikely]] {
    detail::release_deferred_references_now();
  }
}

// Move-only owner of exactly one strong reference (or of nothing). Built only through
// steal() or borrow(); release() hands the reference back to the interpreter.
class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  ~PyRef() {
    if (object_ == nullptr) return;
    if (cpython::is_finalizing()) [[unlikely]] {
      detail::release_while_finalizing(object_);
    } else if (detail::release_runs_no_python_code(object_)) [[likely]] {
      Py_DECREF(object_);
    } else {
      detail::defer_release(object_);
    }
  }

  // Takes over a new reference (may be null).
  [[nodiscard]] static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Takes a further reference to a borrowed object (may be null).
  [[nodiscard]] static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Gives up ownership and returns the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  // A further reference to the same object.
  PyRef share() const noexcept { return borrow(object_); }
  void reset() noexcept { PyRef().swap(*this); }
  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }
  // Releases the reference at once, from this ordinary frame, even where that runs Python code.
  // For objects released on every evaluation, which would otherwise be set aside each time.
  void drop() {
    if (PyObject* const object = std::exchange(object_, nullptr)) Py_DECREF(object);
  }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace swarmtuner
