// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numeric_core/x_vec.hpp"
#include "python_layer/decimal_object_cache.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The point conversions' slice of the module state: the keys of a point, "i8" ... "d" in kind
// order, interned (also the keyword names of a call of f).
struct KindKeys {
  std::array<PyRef, kind_count> keys;
};

// Interns the keys, for the module state; throws PythonError when the interpreter cannot.
KindKeys intern_kind_keys();

// A dict with one list per kind that has components, keys in kind order ("i8" ... "d"). The
// decimals are handed out by `decimals` (a search's cache, which has made most of them before).
PyRef xvec_to_py_dict(const XVec& point, DecimalObjectCache& decimals);

// The same lists without the dict, for a call with keyword names: lists[0..count) in kind
// order; `kinds` gets bit k set for every kind k that has components.
std::size_t xvec_to_py_lists(const XVec& point, std::array<PyRef, kind_count>& lists,
                             std::uint32_t& kinds, DecimalObjectCache& decimals);

}  // namespace swarmtuner
