// PSO.min and PSO.max: the methods' parameter tables and their entries in the class.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "numeric_core/element_kind.hpp"
#include "python_layer/args.hpp"

namespace swarmtuner {

// The objective, then a lower and an upper bound per element kind: "f", "i8_min", "i8_max",
// ... "d_min", "d_max".
inline constexpr std::size_t search_parameter_count = 1 + 2 * kind_count;

// The tables and the method entries of min and max, made once for the module state. The
// entries point into this object, which therefore never moves.
class SearchMethods {
 public:
  // Interns the parameter names; throws PythonError when the interpreter cannot.
  SearchMethods();
  SearchMethods(const SearchMethods&) = delete;
  SearchMethods& operator=(const SearchMethods&) = delete;

  const ParameterTable& min_parameters() const noexcept { return min_parameters_; }
  const ParameterTable& max_parameters() const noexcept { return max_parameters_; }
  // min, max and the terminating entry, for the class's method slot.
  PyMethodDef* method_table() noexcept { return methods_.data(); }

 private:
  ParameterTable min_parameters_;
  ParameterTable max_parameters_;
  std::string min_signature_;  // "min($self, f, i8_min=..., ...)\n--\n\n"
  std::string max_signature_;
  std::array<PyMethodDef, 3> methods_;
};

}  // namespace swarmtuner
