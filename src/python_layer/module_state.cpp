// The module's process-wide state, made in one piece by the module's initialisation.
#include "python_layer/module_state.hpp"

#include <memory>

#include "python_layer/boundary.hpp"
#include "python_layer/decimal_class.hpp"
#include "python_layer/pso.hpp"

namespace swarmtuner {
namespace {

PyRef intern(const char* text) {
  return steal_or_throw(PyUnicode_InternFromString(text));
}

std::array<PyRef, kind_count> intern_kind_keys() {
  std::array<PyRef, kind_count> keys;
  for (const ElementKind kind : all_kinds) {
    keys[kind_index(kind)] = intern(std::string(kind_name(kind)).c_str());
  }
  return keys;
}

}  // namespace

ModuleState::ModuleState()
    : panic_exception(create_panic_exception_type()),
      kind_keys(intern_kind_keys()),
      neg_name(intern("__neg__")),
      decimal(load_decimal_class()),
      new_parameters(constructor_parameters()),
      pso_type(create_pso_type(search_methods.method_table())) {}

void create_module_state() {
  auto state = std::make_unique<ModuleState>();
  detail::published_state = state.release();
}

}  // namespace swarmtuner
