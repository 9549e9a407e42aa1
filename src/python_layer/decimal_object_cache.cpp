// The Decimal objects handed to the objective, kept for reuse across the points of one search.
#include "python_layer/decimal_object_cache.hpp"

#include <cstdint>

#include "python_layer/boundary.hpp"
#include "python_layer/element_conversion.hpp"

namespace swarmtuner {

PyRef DecimalObjectCache::to_py(const Decimal& value) {
  if (slots_.empty()) slots_.resize(std::size_t{1} << slot_bits);
  // Multiplicative hashing of the 128 bits: the top bits of the product pick the slot.
  const std::uint64_t mixed =
      (value.raw_low() ^ (value.raw_high() * 0x9E3779B97F4A7C15u)) * 0xD6E8FEB86659FD93u;
  Slot& slot = slots_[mixed >> (64 - slot_bits)];
  if (!slot.object || !slot.value.identical(value)) {
    slot.object = element_to_py<ElementKind::D>(value);
    slot.value = value;
  }
  return slot.object.share();
}

PyRef DecimalObjectCache::to_py_list(const std::vector<Decimal>& values) {
  items_.clear();
  for (const Decimal& value : values) items_.push_back(to_py(value));
  PyRef list = steal_or_panic(PyList_New(static_cast<Py_ssize_t>(items_.size())));
  for (std::size_t j = 0; j < items_.size(); ++j) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), items_[j].release());
  }
  items_.clear();
  return list;
}

}  // namespace swarmtuner
