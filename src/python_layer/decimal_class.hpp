// The decimal.Decimal class, imported once for the module state.
#pragma once

#include <string>

#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// decimal.Decimal, or why it could not be had.
struct DecimalClass {
  PyRef type;                // null when the import failed or gave no class
  std::string load_failure;  // then the description of the Python error
};

// Imports decimal.Decimal, for the module state. When decimal cannot be had (it cannot be
// imported, or its Decimal is no class), the reason is kept instead and every conversion of a
// decimal to Python fails with "failed to load decimal.Decimal: ..."; searches without decimals
// still work. MemoryError and exceptions that are not Exceptions are thrown: the import fails.
DecimalClass load_decimal_class();

}  // namespace swarmtuner
