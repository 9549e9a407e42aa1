// Python numbers read as the C numbers of the settings and of the f64 elements.
#include "python_layer/number_reading.hpp"

#include "python_layer/boundary.hpp"

namespace swarmtuner {

double read_double(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

std::uint64_t read_u64(PyObject* object) {
  const PyRef index = steal_or_throw(PyNumber_Index(object));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
  return value;
}

}  // namespace swarmtuner
