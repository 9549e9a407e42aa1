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

// The kinds of a search's points and the tuple of their keyword names, learnt from the first
// point and kept: every point of a search has the lengths of the bounds (a step keeps the
// position's lengths), so every point has the same kinds.
class PointLayout {
 public:
  bool known() const noexcept { return known_; }
  void learn(const XVec& first_point);
  std::uint32_t kinds() const noexcept { return kinds_; }
  // Null when the points have no components.
  PyObject* keyword_names() const noexcept { return names_.get(); }

 private:
  bool known_ = false;
  std::uint32_t kinds_ = 0;
  PyRef names_;
};

// What one search keeps from one call of f to the next.
struct CallCache {
  PointLayout layout;
  DecimalObjectCache decimals;
  SpareLists spare_lists;
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
