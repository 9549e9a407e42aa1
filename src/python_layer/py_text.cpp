// Text out of str objects and into them (interned names), passing a failure on as PythonError.
#include "python_layer/py_text.hpp"

#include "python_layer/boundary.hpp"

namespace swarmtuner {

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
