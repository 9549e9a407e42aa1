// The module's initialisation: the module object, the process-wide module state (made of the
// slices of the parts that use it), and the PSO class in the module's __all__ and namespace.
#include <atomic>
#include <string>

#include "python_layer/boundary.hpp"
#include "python_layer/cpython_compat.hpp"
#include "python_layer/element_conversion.hpp"
#include "python_layer/objective_value.hpp"
#include "python_layer/point_conversion.hpp"
#include "python_layer/pso.hpp"
#include "python_layer/pso_search.hpp"

namespace swarmtuner {
namespace {

// The interpreter's C API version that the module is built for (Python 3.x).
constexpr int module_api_version = 1013;

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "swarmtuner",
    "A Python module implemented in C++.",
    0,        // no per-module state
    nullptr,  // no module-level functions
    nullptr,  // single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

// The module state is per process, not per module, so the module may be initialised only
// once: a second module object (after removal from sys.modules, or in a sub-interpreter)
// would share it with the first. Only a successful initialisation counts: one that failed, or
// that the importer refused, leaves the process free to import the module again.
enum class Initialisation { none, running, done };
std::atomic<Initialisation> initialisation{Initialisation::none};

// The claim of one run of the initialisation; given back unless the run succeeded. While one
// run holds it another (an import that the first one's Python code starts, or one in another
// interpreter meanwhile) is refused as a second initialisation.
class InitialisationClaim {
 public:
  InitialisationClaim() {
    Initialisation expected = Initialisation::none;
    if (!initialisation.compare_exchange_strong(expected, Initialisation::running)) {
      raise(PyExc_ImportError, "PyO3 modules may only be initialized once per interpreter process");
    }
  }
  InitialisationClaim(const InitialisationClaim&) = delete;
  InitialisationClaim& operator=(const InitialisationClaim&) = delete;
  ~InitialisationClaim() {
    if (!succeeded_) initialisation.store(Initialisation::none);
  }
  void succeed() noexcept {
    initialisation.store(Initialisation::done);
    succeeded_ = true;
  }

 private:
  bool succeeded_ = false;
};

// ---- The module's process-wide state ----

// Made once, completely, by the module's initialisation, then only read; never released (the
// interpreter may call in until the process ends, its own shutdown included). Nothing in it is
// filled later, so no call races another to fill it and no failed fill is remembered. Each part
// reads only its own slice (`slice<T>()`, boundary.hpp), so the error plumbing and the conversions
// do not depend on the search methods' tables.
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

ModuleState::ModuleState()
    : boundary{create_panic_exception_type()},
      kind_keys(intern_kind_keys()),
      neg_name(intern_neg_method_name()),
      decimal(load_decimal_class()),
      pso{constructor_parameters(), create_pso_type(search_methods.method_table())} {}

// Makes the state and publishes every slice of it, unless an earlier initialisation did; on
// failure throws PythonError and publishes nothing. An initialisation that fails after this
// leaves the state to the next one, which then makes the module object alone: the classes that
// the failed one raised or handed out stay the module's.
void make_module_state() {
  // The PSO class is published last, so its slice says whether a state was made.
  if (find_slice<PsoClass>() != nullptr) return;
  // Published only once every member exists, and all at once: a part never sees a state that
  // its initialisation is still making, or one that failed halfway.
  const ModuleState* const state = new ModuleState();  // never released
  publish_slice(state->boundary);
  publish_slice(state->kind_keys);
  publish_slice(state->neg_name);
  publish_slice(state->decimal);
  publish_slice(state->search_methods);
  publish_slice(state->pso);
}

// The module's __all__, created empty when the module has none yet.
PyRef all_list(PyObject* module) {
  PyRef all_name = steal_or_throw(PyUnicode_InternFromString("__all__"));
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    PythonError error = fetch_python_error();
    if (!error.matches(PyExc_AttributeError)) throw std::move(error);
    all = steal_or_throw(PyList_New(0));
    if (PyObject_SetAttr(module, all_name.get(), all.get()) < 0) throw_python_error();
  }
  if (!PyList_Check(all.get())) {
    raise(PyExc_TypeError,
          "'" + type_qualname(all.get()) + "' object cannot be converted to 'PyList'");
  }
  return all;
}

void add_pso_class(PyObject* module) {
  PyObject* type = reinterpret_cast<PyObject*>(pso_type());
  PyRef all = all_list(module);
  PyRef name = steal_or_throw(PyUnicode_InternFromString("PSO"));
  if (PyList_Append(all.get(), name.get()) < 0) {
    panic_with_python_error("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name.get(), type) < 0) throw_python_error();
}

PyObject* initialise_module() {
  const cpython::InitialisationRun run = cpython::initialisation_run(module_definition.m_name);
  if (run == cpython::InitialisationRun::refused) throw_python_error();
  PyRef module = steal_or_throw(PyModule_Create2(&module_definition, module_api_version));
  // The module of such a run is dropped, so it stays empty and counts for nothing; the run that
  // may follow in the importer is the initialisation.
  if (run == cpython::InitialisationRun::on_behalf_of_sub_interpreter) return module.release();
  InitialisationClaim claim;
  make_module_state();
  add_pso_class(module.get());
  claim.succeed();
  return module.release();
}

}  // namespace
}  // namespace swarmtuner

PyMODINIT_FUNC PyInit_swarmtuner() {
  return swarmtuner::call_boundary(swarmtuner::initialise_module);
}
