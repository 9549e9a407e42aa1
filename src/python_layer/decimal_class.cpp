// The decimal.Decimal class, imported once for the module state.
#include "python_layer/decimal_class.hpp"

#include "python_layer/boundary.hpp"
#include "python_layer/py_text.hpp"

namespace swarmtuner {

DecimalClass load_decimal_class() {
  try {
    const PyRef module_name = steal_or_throw(PyUnicode_FromString("decimal"));
    const PyRef module = steal_or_throw(PyImport_Import(module_name.get()));
    PyRef cls = steal_or_throw(PyObject_GetAttrString(module.get(), "Decimal"));
    if (!PyType_Check(cls.get())) {
      raise(PyExc_TypeError,
            "'" + type_qualname(cls.get()) + "' object cannot be converted to 'PyType'");
    }
    return {std::move(cls), {}};
  } catch (PythonError& error) {
    // Running out of memory (or an interrupt) says nothing about decimal: the import fails.
    if (!error.matches(PyExc_Exception) || error.matches(PyExc_MemoryError)) throw;
    return {PyRef(), error.describe()};
  }
}

}  // namespace swarmtuner
