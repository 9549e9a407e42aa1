// The search behind PSO.min and PSO.max, with a Python objective.
#pragma once

#include <utility>

#include "particle_swarm_optimization/settings.hpp"
#include "numeric_core/x_vec.hpp"
#include "py_ref.hpp"

namespace swarmtuner {

// Runs the swarm search over [lower, upper) minimising (or maximising) f. Returns the best
// value and the dict of the best point. Failures are internal failures (PanicException).
std::pair<PyRef, PyRef> run_python_search(const PsoSettings& settings, PyObject* f, XVec lower,
                                          XVec upper, bool maximise);

}  // namespace swarmtuner
