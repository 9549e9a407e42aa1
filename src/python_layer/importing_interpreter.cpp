// Which interpreter a run of the module's initialisation serves, where CPython's versions differ.
#include "python_layer/importing_interpreter.hpp"

#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
// CPython's own test, exported by 3.12 for extension modules but declared only in its internal
// headers: false, with the ImportError set, in a sub-interpreter that takes no module with a
// single-phase initialisation (honouring CPython's override of the check for tests).
extern "C" int _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);
#endif

namespace swarmtuner {

InitialisationRun initialisation_run([[maybe_unused]] const char* name) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  // From 3.13 a sub-interpreter's import runs a single-phase initialisation in the main
  // interpreter, on a thread state made for the run, then checks whether the importer takes
  // such modules and, if it does, runs the initialisation again in the importer. That first run
  // is the one of the main interpreter with no Python frame while another interpreter exists:
  // an import from Python code runs the initialisation beneath the frames of the import system.
  if (PyInterpreterState_Get() == PyInterpreterState_Main() && PyEval_GetGlobals() == nullptr &&
      PyInterpreterState_Next(PyInterpreterState_Head()) != nullptr) {
    return InitialisationRun::on_behalf_of_sub_interpreter;
  }
  return InitialisationRun::for_importer;
#elif PY_VERSION_HEX >= 0x030C0000
  // 3.12 runs the initialisation in the importer and checks only afterwards.
  return _PyImport_CheckSubinterpIncompatibleExtensionAllowed(name) < 0
             ? InitialisationRun::refused
             : InitialisationRun::for_importer;
#else
  // Before 3.12 every sub-interpreter takes such modules.
  return InitialisationRun::for_importer;
#endif
}

}  // namespace swarmtuner
