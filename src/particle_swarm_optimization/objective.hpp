// What the search needs from the objective side: evaluate a point, compare values, negate one.
#pragma once

#include <concepts>
#include <optional>
#include <utility>

#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

enum class Ordering { Less, Equal, Greater };

// An objective owns how values are produced, ordered and negated; the search treats values as
// opaque and copies them only to share them between a particle and the swarm's best.
// compare() yields no ordering (nullopt) when two values cannot be ordered.
template <class O>
concept Objective = std::copy_constructible<typename O::Value> &&
    requires(O& objective, const XVec& position, const typename O::Value& value,
             typename O::Value owned) {
  { objective.evaluate(position) } -> std::same_as<typename O::Value>;
  { objective.compare(value, value) } -> std::same_as<std::optional<Ordering>>;
  { objective.negate(std::move(owned)) } -> std::same_as<typename O::Value>;
};

}  // namespace swarmtuner
