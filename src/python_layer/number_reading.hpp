// Python numbers read as the C numbers of the settings and of the f64 elements.
#pragma once

#include <cstdint>

#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The f64 rule: an exact float is read as it is, anything else through __float__ or __index__.
// Also the rule of the coefficient settings (c1, c2, inertia, max_v).
double read_double(PyObject* object);

// The rule of the count settings (n_iters, n_particles): index conversion (int, bool and
// anything with __index__, never float) to an unsigned 64-bit integer; negative values and
// values of 2**64 or more raise the interpreter's OverflowError.
std::uint64_t read_u64(PyObject* object);

}  // namespace swarmtuner
