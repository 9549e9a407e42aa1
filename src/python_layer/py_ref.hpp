// PyRef: the one owning handle for PyObject*; every reference the module holds lives in one.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <utility>

namespace swarmtuner {

namespace detail {
// Set for good once a thread is ended by a forced unwind while it runs Python code for this
// module (see run_python_code in boundary.hpp). CPython does that only while it shuts down, to
// a daemon thread that wakes up, and such a thread no longer holds the interpreter lock: the
// references that its frames, and from then on any frame, let go of are left to the exiting
// process instead of being released without the lock.
inline constinit std::atomic<bool> references_abandoned{false};
}  // namespace detail

inline void abandon_references() noexcept {
  detail::references_abandoned.store(true, std::memory_order_relaxed);
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
    if (object_ != nullptr && !detail::references_abandoned.load(std::memory_order_relaxed))
        [[likely]] {
      Py_DECREF(object_);
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

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace swarmtuner
