// Decimal bounds read from text: the digits a decimal cannot keep are rounded towards the inside.
#pragma once

#include <string_view>

#include "numeric_core/decimal.hpp"

namespace swarmtuner {

enum class BoundSide { Lower, Upper };

// Compares the number a decimal text denotes (as Decimal::parse accepts it: an optional sign,
// digits with underscores, at most one point) with a decimal: negative, zero or positive as
// the text is below, equal to or above it. Exact, whatever the number of digits.
int compare_text_with(std::string_view text, const Decimal& value);

// `parsed` is Decimal::parse's value of `text`, which rounds the digits it cannot keep to the
// nearest. A bound must not move outwards: a lower bound the parse rounded down becomes the
// least decimal above the text, an upper bound it rounded up the greatest below it. (A text
// beyond the largest decimal keeps the parse's value.)
Decimal round_bound_inwards(std::string_view text, Decimal parsed, BoundSide side);

}  // namespace swarmtuner
