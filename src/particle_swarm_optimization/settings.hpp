// The six settings of the optimiser, as the search reads them, and the one list of their names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

namespace swarmtuner {

// c1 weights the pull towards the swarm's best and c2 the pull towards the particle's own best.
// The class docstring (fixed text, kept word for word) describes the two the other way round;
// the search follows the assignment given here, which is what its results are defined by.
struct PsoSettings {
  std::uint64_t n_iters = 1000;    // number of sweeps
  std::uint64_t n_particles = 30;  // size of the swarm
  double c1 = 2.0;                 // pull towards the swarm's best position
  double c2 = 2.0;                 // pull towards the particle's own best position
  double inertia = 0.5;            // applied to every velocity after each sweep
  double max_v = 0.2;              // velocity limit as a fraction of each dimension's range
};

// One setting: its name and its field.
template <auto Member>
struct SettingField {
  using type = std::remove_cvref_t<decltype(std::declval<PsoSettings&>().*Member)>;
  static constexpr auto member = Member;
  const char* name;
};

// Every setting once, in the order of the constructor's parameters. Whatever lists the settings
// (the constructor's parameters, the attributes, the class's text signature) is built from this.
inline constexpr std::tuple setting_fields{
    SettingField<&PsoSettings::n_iters>{"n_iters"},
    SettingField<&PsoSettings::n_particles>{"n_particles"},
    SettingField<&PsoSettings::c1>{"c1"},
    SettingField<&PsoSettings::c2>{"c2"},
    SettingField<&PsoSettings::inertia>{"inertia"},
    SettingField<&PsoSettings::max_v>{"max_v"},
};

inline constexpr std::size_t setting_count = std::tuple_size_v<decltype(setting_fields)>;

// The I-th entry of setting_fields, as a type (for code that needs the field at compile time).
template <std::size_t I>
using SettingAt =
    std::remove_const_t<std::tuple_element_t<I, std::remove_const_t<decltype(setting_fields)>>>;

}  // namespace swarmtuner
