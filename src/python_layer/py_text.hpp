// Text out of Python objects (the UTF-8 of str objects, the names of types) and into them
// (interned names).
#pragma once

#include <string>

#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The UTF-8 of a str object. A str that UTF-8 cannot carry (a lone surrogate) raises the
// interpreter's UnicodeEncodeError as a PythonError.
std::string utf8_or_throw(PyObject* text);

// The UTF-8 of a str object for a message: characters that UTF-8 cannot carry become U+FFFD.
// Leaves no exception pending; an object that is not a str gives an empty text.
std::string utf8_lossy(PyObject* text);

// The qualified name (__qualname__) of the object's type, for a message; the type's C name
// when that attribute cannot be read. Leaves no exception pending.
std::string type_qualname(PyObject* object);

// The interned str of `text`, as the module state keeps its names; throws PythonError when the
// interpreter cannot make it.
PyRef intern_or_throw(const char* text);

}  // namespace swarmtuner
