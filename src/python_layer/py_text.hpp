// Text out of str objects and into them (interned names), passing a failure on as PythonError.
// The text of objects for messages, which never fails, is the boundary's (boundary.hpp).
#pragma once

#include <string>

#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The UTF-8 of a str object. A str that UTF-8 cannot carry (a lone surrogate) raises the
// interpreter's UnicodeEncodeError as a PythonError.
std::string utf8_or_throw(PyObject* text);

// The interned str of `text`, as the module state keeps its names; throws PythonError when the
// interpreter cannot make it.
PyRef intern_or_throw(const char* text);

}  // namespace swarmtuner
