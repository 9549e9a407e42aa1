// A part's slice of the module state: where the part finds what the module's initialisation
// made for it, without seeing the rest of the state.
#pragma once

namespace swarmtuner {

namespace detail {
// One pointer per slice type, written once, under the interpreter lock, when the whole module
// state has been made (module_state.cpp).
template <class Slice>
inline const Slice* published_slice = nullptr;
}  // namespace detail

// Publishes one slice of a completely made module state; the state outlives the process's
// last call, so the slice stays valid from here on.
template <class Slice>
void publish_slice(const Slice& slice) noexcept {
  detail::published_slice<Slice> = &slice;
}

// The slice, or null when the module state was never made (no import yet, or a failed one).
template <class Slice>
const Slice* find_slice() noexcept {
  return detail::published_slice<Slice>;
}

// The slice, for code that runs only after a successful initialisation: the class's slots and
// methods, and everything they call.
template <class Slice>
const Slice& slice() noexcept {
  return *detail::published_slice<Slice>;
}

}  // namespace swarmtuner
