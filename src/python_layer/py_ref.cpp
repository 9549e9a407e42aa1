// The rare paths of releasing a reference: set aside for later, or left at shutdown.
#include "python_layer/py_ref.hpp"

#include <new>

namespace swarmtuner {
namespace detail {

void defer_release(PyObject* object) noexcept {
  try {
    deferred_references.push_back(object);
  } catch (const std::bad_alloc&) {
    // With no memory to remember it, releasing it now is better than keeping it for good.
    Py_DECREF(object);
  }
}

void release_while_finalizing(PyObject* object) noexcept {
  // The thread that shuts the interpreter down, or one that still holds the lock, releases as
  // usual; any other thread is being ended and must not touch the object.
  if (PyGILState_Check() == 0) return;
  if (release_runs_no_python_code(object)) {
    Py_DECREF(object);
  } else {
    defer_release(object);
  }
}

void release_deferred_references_now() {
  std::vector<PyObject*>& pending = deferred_references;
  // Python code must not start with an exception pending; the caller's is put back after.
  const bool error_pending = PyErr_Occurred() != nullptr;
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  if (error_pending) PyErr_Fetch(&type, &value, &traceback);
  // One at a time from the back: a release may run code that sets more aside (or drains the
  // list itself, from a search inside a __del__).
  while (!pending.empty()) {
    PyObject* const object = pending.back();
    pending.pop_back();
    Py_DECREF(object);
  }
  if (error_pending) PyErr_Restore(type, value, traceback);
}

}  // namespace detail
}  // namespace swarmtuner
