// Which interpreter a run of the module's initialisation serves, where CPython's versions differ.
#pragma once

#include "python_layer/py_ref.hpp"

namespace swarmtuner {

enum class InitialisationRun {
  // The module made by this run is the importing interpreter's.
  for_importer,
  // The importer is a sub-interpreter that takes no module with a single-phase initialisation
  // and would refuse this one once made; CPython's ImportError is set.
  refused,
  // A run in the main interpreter for a sub-interpreter's import: CPython drops the module and
  // keeps only the initialisation function, which the importer runs once more, itself, unless
  // it refuses such modules.
  on_behalf_of_sub_interpreter,
};

// What the current run of the initialisation of the module `name` is for. Called first thing in
// it, with the interpreter lock held; runs no Python code.
InitialisationRun initialisation_run(const char* name) noexcept;

}  // namespace swarmtuner
