// Text out of Python objects (the UTF-8 of str objects, the names of types) and into them
// (interned names).
#include "python_layer/py_text.hpp"

#include "python_layer/boundary.hpp"

namespace swarmtuner {

std::string utf8_or_throw(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) throw_python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

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

PyRef intern_or_throw(const char* text) {
  return steal_or_throw(PyUnicode_InternFromString(text));
}

}  // namespace swarmtuner
