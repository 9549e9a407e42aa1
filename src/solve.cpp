// The search behind PSO.min and PSO.max, run with a Python objective.
#include "solve.hpp"

#include "particle_swarm_optimization/swarm_search.hpp"
#include "element_conversion.hpp"
#include "python_objective.hpp"

namespace swarmtuner {

std::pair<PyRef, PyRef> run_python_search(const PsoSettings& settings, PyObject* f, XVec lower,
                                          XVec upper, bool maximise) {
  PyObjective objective{f, {}};
  SwarmResult<PyWrapper> result =
      maximise ? swarm_max(settings, objective, std::move(lower), std::move(upper))
               : swarm_min(settings, objective, std::move(lower), std::move(upper));
  PyRef position = xvec_to_py_dict(result.position);
  return {std::move(result.value).into_ref(), std::move(position)};
}

}  // namespace swarmtuner
