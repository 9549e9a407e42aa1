// A decimal as sign, coefficient digits and scale, for test messages and comparisons: written
// without the decimal's own text form, which is under test. Shared by the unit tests and the
// fuzz harnesses, so it needs neither GoogleTest nor GMP.
#pragma once

#include <optional>
#include <string>

#include "numeric_core/decimal.hpp"

namespace swarmtuner::test_text {

inline std::string digits(UInt128 v) {
  std::string s;
  do {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return s;
}

inline std::string show(const Decimal& d) {
  return (d.is_negative() ? "-" : "+") + digits(d.coefficient()) + "e-" + std::to_string(d.scale());
}

inline std::string show(const std::optional<Decimal>& d) {
  return d ? show(*d) : "nullopt";
}

// A refused result reads as "nullopt" too: the tests compare the value, not the status.
inline std::string show(const Checked<Decimal>& d) {
  return d ? show(*d) : "nullopt";
}

}  // namespace swarmtuner::test_text
