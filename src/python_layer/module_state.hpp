// The module's process-wide state: every class, imported object and interned name it keeps.
#pragma once

#include <array>
#include <string>

#include "numeric_core/element_kind.hpp"
#include "python_layer/args.hpp"
#include "python_layer/decimal_class.hpp"
#include "python_layer/pso_search.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// Made once, completely, by the module's initialisation, then only read; never released (the
// interpreter may call in until the process ends, its own shutdown included). Nothing in it is
// filled later, so no call races another to fill it and no failed fill is remembered.
struct ModuleState {
  // Makes every member in order; throws PythonError, releasing what was made, when one fails.
  ModuleState();
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;

  PyRef panic_exception;                    // pyo3_runtime.PanicException
  std::array<PyRef, kind_count> kind_keys;  // "i8" ... "d", interned: the keys of a point
  PyRef neg_name;                           // "__neg__", interned
  DecimalClass decimal;                     // for decimal components handed to Python
  ParameterTable new_parameters;            // PSO.__new__()
  SearchMethods search_methods;             // PSO.min() and PSO.max()
  PyRef pso_type;                           // the PSO class, made last
};

namespace detail {
// Written once, under the interpreter lock, by create_module_state.
inline const ModuleState* published_state = nullptr;
}  // namespace detail

// Makes the state and publishes it; on failure throws PythonError and publishes nothing.
void create_module_state();

// The state, or null when the module was never initialised (or its initialisation failed).
inline const ModuleState* published_module_state() noexcept {
  return detail::published_state;
}

// The state, for code that runs only after a successful initialisation: the class's slots and
// methods, and everything they call.
inline const ModuleState& module_state() noexcept {
  return *detail::published_state;
}

}  // namespace swarmtuner
