// What differs between the CPython versions the module supports, behind one small interface.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace swarmtuner::cpython {

// True once the interpreter has begun to shut down. From then on CPython (3.10 to 3.13) ends
// every other thread that tries to take the interpreter lock, by pthread_exit.
inline bool is_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace swarmtuner::cpython
