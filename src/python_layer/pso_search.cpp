// PSO.min and PSO.max: argument matching, the bounds, the swarm search with f, and the result.
#include "python_layer/pso_search.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "numeric_core/rng.hpp"
#include "particle_swarm_optimization/swarm_search.hpp"
#include "python_layer/boundary.hpp"
#include "python_layer/element_conversion.hpp"
#include "python_layer/point_conversion.hpp"
#include "python_layer/pso.hpp"
#include "python_layer/python_objective.hpp"

namespace swarmtuner {
namespace {

// "f", then the lower and the upper bound of every kind in kind order.
std::vector<std::string> search_parameter_names() {
  std::vector<std::string> names{"f"};
  for (const std::string_view kind : kind_names) {
    names.push_back(std::string(kind) + "_min");
    names.push_back(std::string(kind) + "_max");
  }
  return names;
}

constexpr std::size_t lower_bound_slot(ElementKind kind) {
  return 1 + 2 * kind_index(kind);
}

// The method's docstring, which is only its text signature: every parameter after f defaults.
std::string text_signature(std::string_view method, const ParameterTable& parameters) {
  std::string text(method);
  text += "($self, ";
  text += parameters.name(0);
  for (std::size_t slot = 1; slot < parameters.size(); ++slot) {
    text += ", ";
    text += parameters.name(slot);
    text += "=...";
  }
  text += ")\n--\n\n";
  return text;
}

template <ElementKind K>
void take_bound(const ParameterTable& parameters, std::span<PyObject* const> slots,
                std::size_t slot, BoundSide side, XVec::ListRef<K> into) {
  if (PyObject* argument = slots[slot]) {
    into = convert_argument(parameters.name(slot),
                            [&] { return extract_bound_list<K>(argument, side); });
  }
}

struct StackBounds {
  std::uintptr_t low = 0;      // lowest address of the thread's stack; 0 when unknown
  std::uintptr_t reserve = 0;  // room a search must leave for the code it calls
};

// The lowest address and the size of the calling thread's stack, as its thread library knows
// them; false where it cannot tell (the guard is then off).
bool thread_stack(std::uintptr_t& low, std::size_t& size) {
#if defined(__APPLE__)
  // macOS gives the stack's top (its highest address) and its size.
  const pthread_t self = pthread_self();
  const auto top = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));
  size = pthread_get_stacksize_np(self);
  low = top - size;
  return top != 0 && size != 0 && size <= top;
#elif defined(__linux__)
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* base = nullptr;
  const bool known = pthread_attr_getstack(&attributes, &base, &size) == 0;
  pthread_attr_destroy(&attributes);
  low = reinterpret_cast<std::uintptr_t>(base);
  return known;
#else
  (void)low;
  (void)size;
  return false;
#endif
}

// The calling thread's stack, read once per thread.
const StackBounds& stack_bounds() {
  thread_local const StackBounds bounds = [] {
    StackBounds result;
    std::uintptr_t low = 0;
    std::size_t size = 0;
    if (thread_stack(low, size)) {
      result.low = low;
      // Half a megabyte, or a quarter of a small thread stack.
      result.reserve = std::min<std::uintptr_t>(512 * 1024, size / 4);
    }
    return result;
  }();
  return bounds;
}

// Searches nested inside f (a search in f in a search ...) use C stack at every level. With a
// raised recursion limit the interpreter would let them run the stack out and crash, so a
// search that would start with little stack left is refused like too deep a Python recursion.
void check_stack_room() {
  const StackBounds& bounds = stack_bounds();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (bounds.low != 0 && here - bounds.low < bounds.reserve) {
    raise(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
  }
}

// Runs the swarm search over [lower, upper) with f as the objective; failures of the search
// are internal failures (PanicException). Returns the tuple (best value, dict of the best point).
PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 bool maximise) {
  check_stack_room();
  const SearchMethods& methods = slice<SearchMethods>();
  const ParameterTable& parameters = maximise ? methods.max_parameters() : methods.min_parameters();
  std::array<PyObject*, search_parameter_count> slots;
  parameters.match_fastcall(args, nargs, kwnames, slots);
  PsoObject& pso = pso_receiver(self);
  const SharedBorrow borrow(pso);
  const PyRef f = PyRef::borrow(slots[0]);

  XVec lower;
  XVec upper;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    take_bound<K>(parameters, slots, lower_bound_slot(K), BoundSide::Lower, lower.list<K>());
    take_bound<K>(parameters, slots, lower_bound_slot(K) + 1, BoundSide::Upper, upper.list<K>());
  });

  PythonObjective objective{f.get(), {}};
  // Held for the whole search: should f replace this thread's generator (a forked child that
  // searches inside f takes a fresh key), the draws still come from the one the search began with.
  const std::shared_ptr<ChaChaRng> rng = thread_rng();
  SwarmResult<ObjectiveValue> result =
      maximise ? swarm_max(pso.settings, objective, std::move(lower), std::move(upper), *rng)
               : swarm_min(pso.settings, objective, std::move(lower), std::move(upper), *rng);
  PyRef position = xvec_to_py_dict(result.position, objective.cache.decimals);
  PyRef tuple = steal_or_panic(PyTuple_New(2));
  PyTuple_SET_ITEM(tuple.get(), 0, std::move(result.value).into_ref().release());
  PyTuple_SET_ITEM(tuple.get(), 1, position.release());
  return tuple.release();
}

PyObject* pso_min(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_boundary([&] { return search(self, args, nargs, kwnames, false); });
}

PyObject* pso_max(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_boundary([&] { return search(self, args, nargs, kwnames, true); });
}

// The interpreter stores every method as PyCFunction and casts back by the flags.
template <class Function>
PyCFunction as_method(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

SearchMethods::SearchMethods()
    : min_parameters_("PSO.min()", search_parameter_names(), 1),
      max_parameters_("PSO.max()", search_parameter_names(), 1),
      min_signature_(text_signature("min", min_parameters_)),
      max_signature_(text_signature("max", max_parameters_)),
      methods_{{
          {"min", as_method(pso_min), METH_FASTCALL | METH_KEYWORDS, min_signature_.c_str()},
          {"max", as_method(pso_max), METH_FASTCALL | METH_KEYWORDS, max_signature_.c_str()},
          {nullptr, nullptr, 0, nullptr},
      }} {}

}  // namespace swarmtuner
