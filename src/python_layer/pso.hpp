// The PSO class: the settings record as a Python object, its borrow state and its class object.
#pragma once

#include <cstddef>
#include <type_traits>

#include "particle_swarm_optimization/settings.hpp"
#include "python_layer/args.hpp"
#include "python_layer/boundary.hpp"

namespace swarmtuner {

// A PSO instance: the object header, the six settings, and the borrow state that keeps a
// setter from changing settings that a running search is reading.
struct PsoObject {
  PyObject ob_base;  // the object header
  PsoSettings settings;
  // 0: free; n > 0: n shared borrows (getters, and searches while f runs). Guarded by the GIL.
  Py_ssize_t borrow_state;
};

// The interpreter hands a PsoObject around as a PyObject* and this module casts it back. The
// casts are defined only while the two share their address: a standard-layout record whose
// first member is the object header.
static_assert(std::is_standard_layout_v<PsoObject>);
static_assert(offsetof(PsoObject, ob_base) == 0);

// The class's slice of the module state.
struct PsoClass {
  ParameterTable new_parameters;  // PSO.__new__()
  PyRef type;                     // the PSO class object
};

// The PSO class object from its type specification, with the given method table (min and max,
// which must outlive the class). Made once, for the module state. Throws PythonError
// (RuntimeError "An error occurred while initializing class PSO") when the interpreter
// refuses to create it.
PyRef create_pso_type(PyMethodDef* methods);

// The parameters of PSO.__new__(): the settings, in order, none required.
ParameterTable constructor_parameters();

// The PSO class object of the module state.
PyTypeObject* pso_type() noexcept;

// `self` as a PSO instance, or TypeError "'QUALNAME' object cannot be converted to 'PSO'".
PsoObject& pso_receiver(PyObject* self);

// Holds a shared borrow of a PSO object for its lifetime, so that every way out of a call,
// unwinding included, gives it back. A setter refuses to change a borrowed object ("Already
// borrowed"). The change itself is a plain store that runs no Python code, so it needs no
// exclusive borrow of its own: no reader can ever meet one, and taking a shared borrow cannot
// fail.
class SharedBorrow {
 public:
  explicit SharedBorrow(PsoObject& object) noexcept : object_(object) { ++object_.borrow_state; }
  ~SharedBorrow() { --object_.borrow_state; }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;

 private:
  PsoObject& object_;
};

}  // namespace swarmtuner
