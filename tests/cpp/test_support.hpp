// Test support shared by the C++ tests: the message of a failure, and values made in one line.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "numeric_core/big_int.hpp"
#include "numeric_core/decimal.hpp"
#include "numeric_core/failure.hpp"

// The allocation failure switch of the test binary's operator new (big_int_test.cpp).
extern thread_local long allocations_before_failure;

namespace swarmtuner {

// A copy of a list's elements (a vector's list is a span), to compare with an expected vector.
template <class List>
auto as_vector(const List& list) {
  using T = std::remove_cvref_t<decltype(*std::begin(list))>;
  return std::vector<T>(std::begin(list), std::end(list));
}

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double inf = std::numeric_limits<double>::infinity();

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

// The decimal coefficient * 10^-scale; the arguments must be in range.
inline Decimal decimal(std::int64_t coefficient, std::uint32_t scale) {
  return *Decimal::from_signed_coefficient(coefficient, scale);
}

// v as an element of type T (a decimal at scale 0).
template <class T>
T from_int(std::int64_t v) {
  if constexpr (std::same_as<T, BigInt>) {
    return BigInt(v);
  } else if constexpr (std::same_as<T, Decimal>) {
    return Decimal::from_i64(v);
  } else {
    return static_cast<T>(v);
  }
}

// Runs `operation` with its first, second, ... allocation failing until it completes without
// one, and calls `check` after every failed attempt; returns the number of failed attempts.
inline int fail_each_allocation(const std::function<void()>& operation,
                                const std::function<void()>& check) {
  for (int failed = 0;; ++failed) {
    allocations_before_failure = failed;
    bool completed = false;
    try {
      operation();
      completed = true;
    } catch (const std::bad_alloc&) {
    }
    allocations_before_failure = -1;
    if (completed) return failed;
    check();
  }
}

}  // namespace swarmtuner
