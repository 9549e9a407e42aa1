// The module's process-wide state: every class, imported object and interned name it keeps,
// made of the slices of the parts that use them.
#pragma once

#include "python_layer/boundary.hpp"
#include "python_layer/decimal_class.hpp"
#include "python_layer/objective_value.hpp"
#include "python_layer/point_conversion.hpp"
#include "python_layer/pso.hpp"
#include "python_layer/pso_search.hpp"

namespace swarmtuner {

// Made once, completely, by the module's initialisation, then only read; never released (the
// interpreter may call in until the process ends, its own shutdown included). Nothing in it is
// filled later, so no call races another to fill it and no failed fill is remembered. Each part
// reads only its own slice (state_slice.hpp), so the error plumbing and the conversions do not
// depend on the search methods' tables.
struct ModuleState {
  // Makes every member in order; throws PythonError, releasing what was made, when one fails.
  ModuleState();
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;

  BoundaryState boundary;        // PanicException
  KindKeys kind_keys;            // the keys of a point
  NegMethodName neg_name;        // "__neg__"
  DecimalClass decimal;          // for decimal components handed to Python
  SearchMethods search_methods;  // PSO.min() and PSO.max()
  PsoClass pso;                  // PSO.__new__() and the class, made last
};

// Makes the state and publishes every slice of it, unless an earlier initialisation did; on
// failure throws PythonError and publishes nothing. An initialisation that fails after this
// leaves the state to the next one, which then makes the module object alone: the classes that
// the failed one raised or handed out stay the module's.
void make_module_state();

}  // namespace swarmtuner
