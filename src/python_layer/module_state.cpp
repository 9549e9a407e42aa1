// The module's process-wide state, made in one piece by the module's initialisation.
#include "python_layer/module_state.hpp"

#include "python_layer/state_slice.hpp"

namespace swarmtuner {

ModuleState::ModuleState()
    : boundary{create_panic_exception_type()},
      kind_keys(intern_kind_keys()),
      neg_name(intern_neg_method_name()),
      decimal(load_decimal_class()),
      pso{constructor_parameters(), create_pso_type(search_methods.method_table())} {}

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

}  // namespace swarmtuner
