// The Python objective: f called with a point's components as keyword arguments.
#include "python_layer/python_objective.hpp"

#include <array>
#include <bit>

#include "python_layer/boundary.hpp"
#include "python_layer/point_conversion.hpp"

namespace swarmtuner {

void PointLayout::learn(const XVec& first_point) {
  const std::uint32_t kinds = first_point.kinds();
  if (kinds != 0) {
    PyRef names = steal_or_panic(PyTuple_New(std::popcount(kinds)));
    const KindKeys& kind_keys = slice<KindKeys>();
    Py_ssize_t slot = 0;
    for_each_kind_in(kinds, [&]<ElementKind K>(KindTag<K>) {
      PyTuple_SET_ITEM(names.get(), slot++, kind_keys.keys[kind_index(K)].share().release());
    });
    names_ = std::move(names);
  }
  kinds_ = kinds;
  known_ = true;
}

ObjectiveValue call_objective(PyObject* f, const XVec& position, CallCache& cache) {
  // Values the search let go of since the last call (ones with a __del__, say) are released
  // here, between evaluations, rather than by the destructors that dropped them.
  release_deferred_references();
  if (!cache.layout.known()) [[unlikely]] {
    cache.layout.learn(position);
  }
  PointLists lists;
  xvec_to_py_lists(position, cache.layout.kinds(), lists, cache.decimals, &cache.spare_lists);
  PyRef result = PyRef::steal(PyObject_Vectorcall(
      f, lists.arguments(), PY_VECTORCALL_ARGUMENTS_OFFSET, cache.layout.keyword_names()));
  if (!result) panic_with_python_error("failed to call f");
  // f may have kept the lists, or put objects of its own into them: released here, not set
  // aside, or kept for the next call where only the search still refers to them.
  lists.drop(&cache.spare_lists);
  // An f that runs no bytecode (a builtin, a C extension) never gives the interpreter a chance
  // to run a signal handler, so Ctrl-C would wait for the whole search. The handlers run here,
  // between evaluations, and an exception one raises ends the search as if f had raised it.
  if (PyErr_CheckSignals() != 0) [[unlikely]] {
    panic_with_python_error("failed to call f");
  }
  return ObjectiveValue(std::move(result));
}

}  // namespace swarmtuner
