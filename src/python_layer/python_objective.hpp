// The Python objective: f called with a point's components as keyword arguments.
#pragma once

#include <cstdint>
#include <optional>

#include "numeric_core/x_vec.hpp"
#include "particle_swarm_optimization/objective.hpp"
#include "python_layer/objective_value.hpp"
#include "python_layer/point_conversion.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The tuple of keyword names for the kinds of a search's points, made for the first point and
// kept: every point of a search has the lengths of the bounds (a step keeps the position's
// lengths), so every point has the same kinds.
class KeywordNames {
 public:
  PyObject* for_kinds(std::uint32_t kinds);

 private:
  PyRef names_;
};

// What one search keeps from one call of f to the next.
struct CallCache {
  KeywordNames names;
  DecimalObjectCache decimals;
};

// f(**point) with fresh lists per kind; fails with "failed to call f: ...". The lists are
// passed as keyword arguments through the vectorcall protocol, which gives f exactly what a
// call with a dict would, without building the dict.
ObjectiveValue call_objective(PyObject* f, const XVec& position, CallCache& cache);

// The search's view of a Python objective.
struct PythonObjective {
  using Value = ObjectiveValue;
  PyObject* f;  // borrowed; the method call owns the reference
  CallCache cache;

  Value evaluate(const XVec& position) { return call_objective(f, position, cache); }
  std::optional<Ordering> compare(const Value& a, const Value& b) {
    return ObjectiveValue::compare(a, b);
  }
  Value negate(Value value) { return ObjectiveValue::negate(std::move(value)); }
};

}  // namespace swarmtuner
