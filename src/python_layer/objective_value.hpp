// Objective values: what f returned, ordered with Python's operators and negated by __neg__.
#pragma once

#include <optional>
#include <utility>

#include "particle_swarm_optimization/objective.hpp"
#include "python_layer/py_ref.hpp"

namespace swarmtuner {

// The objective values' slice of the module state: the name of the method that negates one.
struct NegMethodName {
  PyRef name;  // "__neg__", interned
};

// Interns the name, for the module state; throws PythonError when the interpreter cannot.
NegMethodName intern_neg_method_name();

// One owned reference to a value that f returned (or its negation). Copies share the object.
class ObjectiveValue {
 public:
  explicit ObjectiveValue(PyRef object) noexcept : object_(std::move(object)) {}
  ObjectiveValue(const ObjectiveValue& other) noexcept : object_(other.object_.share()) {}
  ObjectiveValue& operator=(const ObjectiveValue& other) noexcept {
    object_ = other.object_.share();
    return *this;
  }
  ObjectiveValue(ObjectiveValue&&) noexcept = default;
  ObjectiveValue& operator=(ObjectiveValue&&) noexcept = default;

  PyObject* get() const noexcept { return object_.get(); }
  PyRef into_ref() && noexcept { return std::move(object_); }

  // ==, then <, then >, each with a as the left operand; ordinary exceptions raised on the way
  // are discarded. A PanicException, or an exception that is not an Exception (KeyboardInterrupt,
  // SystemExit, GeneratorExit), ends the search. nullopt: no ordering.
  [[nodiscard]] static std::optional<Ordering> compare(const ObjectiveValue& a,
                                                       const ObjectiveValue& b);
  // a.__neg__(), looked up by name; fails with "There is no __neg__ method: ...".
  static ObjectiveValue negate(ObjectiveValue a);

 private:
  PyRef object_;
};

}  // namespace swarmtuner
