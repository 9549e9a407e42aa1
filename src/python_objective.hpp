// Objective values as Python objects: calling f, ordering values with Python's operators, negation.
#pragma once

#include <cstdint>
#include <optional>

#include "boundary.hpp"
#include "element_conversion.hpp"
#include "particle_swarm_optimization/objective.hpp"
#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

// One owned reference to a value that f returned (or its negation). Copies share the object.
class PyWrapper {
 public:
  explicit PyWrapper(PyRef object) noexcept : object_(std::move(object)) {}
  PyWrapper(const PyWrapper& other) noexcept : object_(other.object_.share()) {}
  PyWrapper& operator=(const PyWrapper& other) noexcept {
    object_ = other.object_.share();
    return *this;
  }
  PyWrapper(PyWrapper&&) noexcept = default;
  PyWrapper& operator=(PyWrapper&&) noexcept = default;

  PyObject* get() const noexcept { return object_.get(); }
  PyRef into_ref() && noexcept { return std::move(object_); }

  // ==, then <, then >, each with a as the left operand; exceptions raised on the way are
  // discarded (except a PanicException, which ends the search). nullopt: no ordering.
  static std::optional<Ordering> compare(const PyWrapper& a, const PyWrapper& b);
  // a.__neg__(), looked up by name; fails with "There is no __neg__ method: ...".
  static PyWrapper negate(PyWrapper a);

 private:
  PyRef object_;
};

// The tuple of keyword names for the kinds a point has, kept while the kinds stay the same
// (they do for a whole search).
class KeywordNames {
 public:
  PyObject* for_kinds(std::uint32_t kinds);

 private:
  PyRef names_;
  std::uint32_t kinds_ = 0;
};

// f(**point) with fresh lists per kind; fails with "failed to call f: ...". The lists are
// passed as keyword arguments through the vectorcall protocol, which gives f exactly what a
// call with a dict would, without building the dict.
struct CallCache {
  KeywordNames names;
  DecimalObjects decimals;
};
PyWrapper call_objective(PyObject* f, const XVec& position, CallCache& cache);

// The search's view of a Python objective.
struct PyObjective {
  using Value = PyWrapper;
  PyObject* f;  // borrowed; the solve call owns the reference
  CallCache cache;

  Value evaluate(const XVec& position) { return call_objective(f, position, cache); }
  std::optional<Ordering> compare(const Value& a, const Value& b) {
    return PyWrapper::compare(a, b);
  }
  Value negate(Value value) { return PyWrapper::negate(std::move(value)); }
};

}  // namespace swarmtuner
