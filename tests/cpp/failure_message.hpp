// Test support: the message of the internal failure that a piece of code throws.
#pragma once

#include <string>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

// Runs `body` and returns the message of the InternalFailure it throws ("" if none).
template <class F>
std::string failure_of(F&& body) {
  try {
    body();
  } catch (const InternalFailure& failure) {
    return failure.message();
  }
  return "";
}

}  // namespace swarmtuner
