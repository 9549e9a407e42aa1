// The call boundary: fetching, describing and restoring Python errors, and reporting failures.
#include "python_layer/boundary.hpp"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "numeric_core/rng.hpp"

namespace swarmtuner {
namespace {

constexpr std::string_view no_message_text = "the C++ code of swarmtuner failed without a message";

// repr(object) as text. A failing repr goes to the unraisable hook and a placeholder naming the
// object's type takes its place, so describing an error never raises another one.
std::string repr_or_placeholder(PyObject* object) {
  if (object == nullptr) return "<NULL>";
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (repr) return utf8_lossy(repr.get());
  PyErr_WriteUnraisable(object);
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  if (name && PyUnicode_Check(name.get())) {
    return "<unprintable " + utf8_lossy(name.get()) + " object>";
  }
  PyErr_Clear();
  return "<unprintable object>";
}

// A PanicException travelled out through Python code that this module called. Its report was
// written where it started; here the interpreter's own report tells where it passed, and the
// failure continues as a failure of the current call.
[[noreturn]] void resume_panic(PyRef type, PyRef value, PyRef traceback) {
  std::string message = "Unwrapped panic from Python code";
  if (value) {
    PyRef text = PyRef::steal(PyObject_Str(value.get()));
    if (text) {
      message = utf8_lossy(text.get());
    } else {
      PyErr_Clear();
    }
  }
  std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n",
             stderr);
  std::fputs("Python stack trace below:\n", stderr);
  std::fflush(stderr);
  PyErr_Restore(type.release(), value.release(), traceback.release());
  PyErr_PrintEx(0);
  throw ResumedPanic(std::move(message));
}

// The report of an internal failure on standard error: one line with the thread, the position
// and the message, one line on getting a native backtrace. Writes straight to the stream, so
// it cannot fail halfway for lack of memory.
void write_report(std::string_view message, const std::source_location* where) {
  // Python's own stream may hold text written before the failure; keep the order.
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyObject* out = PySys_GetObject("stderr");  // borrowed
  if (out != nullptr && out != Py_None) {
    PyRef flushed = PyRef::steal(PyObject_CallMethod(out, "flush", nullptr));
    if (!flushed) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);

  if (where != nullptr) {
    std::fprintf(stderr, "thread '<unnamed>' failed at %s:%u:%u: ", where->file_name(),
                 static_cast<unsigned>(where->line()), static_cast<unsigned>(where->column()));
  } else {
    std::fputs("thread '<unnamed>' failed: ", stderr);
  }
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputs(
      "\nnote: for a native backtrace, run Python under gdb with `catch throw` and repeat the "
      "call\n",
      stderr);
  std::fflush(stderr);
}

// Sets PanicException(message) as the current exception. Should even that fail, the error
// that stopped it (MemoryError, or the refusal to create the class) is left pending instead.
void raise_panic(std::string_view message) {
  // An internal failure ends the call; whatever Python error was pending is superseded.
  PyErr_Clear();
  // The text goes straight from the view into a Python string: a C++ copy of it could throw
  // std::bad_alloc here, where no C++ exception may leave.
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;
  PyObject* const type = panic_exception_type();
  if (type == nullptr) {
    // Only before the module state exists, where nothing should fail this way.
    PyErr_SetObject(PyExc_SystemError, text.get());
    return;
  }
  PyRef instance = PyRef::steal(PyObject_CallOneArg(type, text.get()));
  if (!instance) return;
  PyErr_SetObject(type, instance.get());
}

}  // namespace

std::string utf8_lossy(PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
    return std::string(data, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  // Lone surrogates: keep their bytes, then let the decoder replace each invalid byte.
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!bytes) {
    PyErr_Clear();
    return {};
  }
  PyRef cleaned = PyRef::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                    PyBytes_GET_SIZE(bytes.get()), "replace"));
  const char* data = cleaned ? PyUnicode_AsUTF8AndSize(cleaned.get(), &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return {};
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::string type_qualname(PyObject* object) {
  PyObject* const type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  const PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__qualname__"));
  if (name && PyUnicode_Check(name.get())) return utf8_lossy(name.get());
  PyErr_Clear();
  return Py_TYPE(object)->tp_name;
}

PythonError::PythonError(PyRef type, PyRef value, PyRef traceback) noexcept
    : type_(std::move(type)), value_(std::move(value)), traceback_(std::move(traceback)) {}

void PythonError::restore() && {
  PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

void PythonError::normalize() {
  if (!type_) return;
  PyObject* type = type_.release();
  PyObject* value = value_.release();
  PyObject* traceback = traceback_.release();
  PyErr_NormalizeException(&type, &value, &traceback);
  type_ = PyRef::steal(type);
  value_ = PyRef::steal(value);
  traceback_ = PyRef::steal(traceback);
}

std::string PythonError::describe() {
  normalize();
  std::string text = "PyErr { type: ";
  text += repr_or_placeholder(type_.get());
  text += ", value: ";
  text += repr_or_placeholder(value_.get());
  text += ", traceback: ";
  if (traceback_) {
    text += "Some(";
    text += repr_or_placeholder(traceback_.get());
    text += ")";
  } else {
    text += "None";
  }
  text += " }";
  return text;
}

bool PythonError::matches(PyObject* type) const noexcept {
  return type_ && PyErr_GivenExceptionMatches(type_.get(), type) != 0;
}

PythonError fetch_python_error() {
  PyObject *raw_type, *raw_value, *raw_traceback;
  PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
  PyRef type = PyRef::steal(raw_type);
  PyRef value = PyRef::steal(raw_value);
  PyRef traceback = PyRef::steal(raw_traceback);
  if (!type) {
    return make_python_error(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  // Only an exception of the class itself counts; before the class exists none can be pending.
  PyObject* const panic_type = panic_exception_type();
  if (panic_type != nullptr && type.get() == panic_type) {
    resume_panic(std::move(type), std::move(value), std::move(traceback));
  }
  return PythonError(std::move(type), std::move(value), std::move(traceback));
}

void throw_python_error() {
  throw fetch_python_error();
}

PyRef steal_or_throw(PyObject* result) {
  if (result == nullptr) throw_python_error();
  return PyRef::steal(result);
}

PythonError make_python_error(PyObject* type, const std::string& message) {
  PyRef text = steal_or_throw(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  return PythonError(PyRef::borrow(type), std::move(text), PyRef());
}

void raise(PyObject* type, const std::string& message) {
  throw make_python_error(type, message);
}

void panic_python_api_call_failed(std::source_location where) {
  PyErr_Print();
  throw InternalFailure("Python API call failed", where);
}

void panic_with_python_error(std::string_view context, std::source_location where) {
  panic_with_python_error(context, fetch_python_error(), where);
}

void panic_with_python_error(std::string_view context, PythonError error,
                             std::source_location where) {
  if (error.is_exit_request()) throw std::move(error);
  std::string message(context);
  message += ": ";
  message += error.describe();
  throw InternalFailure(std::move(message), where);
}

void discard_ordinary_python_error() {
  PythonError error = fetch_python_error();
  if (!error.is_ordinary()) throw std::move(error);
}

PyRef create_panic_exception_type() {
  return steal_or_throw(PyErr_NewExceptionWithDoc(
      "pyo3_runtime.PanicException",
      "The exception raised when the C++ code of swarmtuner, called from Python, fails.\n"
      "\n"
      "Like SystemExit, this exception is derived from BaseException so that\n"
      "it will typically propagate all the way through the stack and cause the\n"
      "Python interpreter to exit.",
      PyExc_BaseException, nullptr));
}

PyObject* panic_exception_type() noexcept {
  const BoundaryState* state = find_slice<BoundaryState>();
  return state != nullptr ? state->panic_exception.get() : nullptr;
}

namespace detail {

void set_python_error_from_current_exception() {
  try {
    throw;
  } catch (PythonError& error) {
    std::move(error).restore();
  } catch (ResumedPanic& failure) {
    raise_panic(failure.message());
  } catch (InternalFailure& failure) {
    write_report(failure.message(), &failure.where());
    raise_panic(failure.message());
  } catch (std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (std::exception& failure) {
    // An exception without a text still gets a report that says something.
    const std::string_view message =
        failure.what() != nullptr && *failure.what() != '\0' ? failure.what() : no_message_text;
    write_report(message, nullptr);
    raise_panic(message);
  }
}

void prepare_thread_once() noexcept {
  // The thread's first exception, thrown here while there is memory: whatever the C++ runtime
  // makes for a thread's exceptions is made now, on every runtime, not by a later first throw.
  struct FirstException {};
  try {
    throw FirstException{};
  } catch (const FirstException&) {
  }
  // The search keys the thread's generator only after the bounds have taken their memory.
  make_thread_rng_slot();
  // Reading this flag in prepare_thread made the storage of the module's own thread-locals,
  // which the loader makes for them all at once.
  thread_prepared = true;
}

}  // namespace detail

std::string utf8_or_throw(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) throw_python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

PyRef intern_or_throw(const char* text) {
  return steal_or_throw(PyUnicode_InternFromString(text));
}

}  // namespace swarmtuner
