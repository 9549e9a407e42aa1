// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#include "python_layer/point_conversion.hpp"

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "python_layer/boundary.hpp"
#include "python_layer/cpython_compat.hpp"
#include "python_layer/element_conversion.hpp"

namespace swarmtuner {

KindKeys intern_kind_keys() {
  KindKeys kind_keys;
  for (const ElementKind kind : all_kinds) {
    kind_keys.keys[kind_index(kind)] = intern_or_throw(std::string(kind_name(kind)).c_str());
  }
  return kind_keys;
}

namespace {

// No list or dict made here is seen by Python code before its last slot is filled: Python code
// that met a list with empty slots (a gc callback that copies every list, say) would crash the
// process. A collection, and with it such code, can start wherever an object that the collector
// tracks is allocated (from 3.12, wherever bytecode runs).

// The list of the components of a kind whose objects are made without running Python code or
// allocating tracked objects (MadeByCApi): made at its final length and filled in place,
// as nothing can run before it is full. Should Python fail to make an object, the list is
// dropped before the failure is reported, which runs Python code. Failures are internal
// failures.
// A spare list (SpareLists) is filled, and handed out, untracked; a number it kept is written
// over with the new value where the kind's objects allow it, and released otherwise.
template <ElementKind K>
PyRef components_to_py_list(std::span<const Element<K>> components, PyRef spare) {
  const bool reused = static_cast<bool>(spare);
  PyRef list = reused ? std::move(spare)
                      : steal_or_panic(PyList_New(static_cast<Py_ssize_t>(components.size())));
  for (std::size_t j = 0; j < components.size(); ++j) {
    if (reused) {
      if (PyObject* const kept = PyList_GET_ITEM(list.get(), static_cast<Py_ssize_t>(j))) {
        if (rewrite_element_object<K>(kept, components[j])) continue;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), nullptr);
        Py_DECREF(kept);  // an exact number (SpareLists keeps no other), which runs no code
      }
    }
    PyObject* const item = new_element_object<K>(components[j]);
    if (item == nullptr) [[unlikely]] {
      list.reset();
      panic_python_api_call_failed(std::source_location::current());
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), item);
  }
  return list;
}

// The list of one kind's components: for decimals, whose objects may run Python code as they
// are made, the cache makes the objects first and the list after them.
template <ElementKind K>
PyRef kind_to_py_list(std::span<const Element<K>> components, DecimalObjectCache& decimals,
                      PyRef spare) {
  if constexpr (MadeByCApi<K>) {
    return components_to_py_list<K>(components, std::move(spare));
  } else {
    return decimals.to_py_list(components, std::move(spare));
  }
}

}  // namespace

PyRef xvec_to_py_dict(const XVec& point, DecimalObjectCache& decimals) {
  // The lists first, then the dict, which no Python code runs to see while it is filled.
  const std::uint32_t kinds = point.kinds();
  PointLists lists;
  xvec_to_py_lists(point, kinds, lists, decimals, nullptr);
  PyRef dict = steal_or_panic(PyDict_New());
  std::size_t next = 0;
  for_each_kind_in(kinds, [&]<ElementKind K>(KindTag<K>) {
    const PyRef& key = slice<KindKeys>().keys[kind_index(K)];
    if (PyDict_SetItem(dict.get(), key.get(), lists.list(next++)) < 0) [[unlikely]] {
      PythonError error = fetch_python_error();
      dict.reset();  // describing the error runs Python code
      panic_with_python_error("called `Result::unwrap()` on an `Err` value", std::move(error));
    }
  });
  return dict;
}

void xvec_to_py_lists(const XVec& point, std::uint32_t kinds, PointLists& lists,
                      DecimalObjectCache& decimals, SpareLists* spares) {
  if (spares != nullptr) spares->select_point(&point);
  for_each_kind_in(kinds, [&]<ElementKind K>(KindTag<K>) {
    const auto& components = point.list<K>();
    PyRef spare = spares != nullptr ? spares->take<K>(lists.count(), components.size()) : PyRef();
    const bool untracked = static_cast<bool>(spare);
    lists.append(kind_to_py_list<K>(components, decimals, std::move(spare)), untracked);
  });
}

void SpareLists::keep_per_point(std::size_t k) {
  if (by_point_.empty()) by_point_.resize((std::size_t{1} << slot_bits) * kind_count);
  per_point_ |= std::uint32_t{1} << k;
}

PyRef DecimalObjectCache::to_py(const Decimal& value) {
  if (slots_.empty()) slots_.resize(std::size_t{1} << slot_bits);
  // Multiplicative hashing of the 128 bits: the top bits of the product pick the slot.
  const std::uint64_t mixed =
      (value.raw_low() ^ (value.raw_high() * 0x9E3779B97F4A7C15u)) * 0xD6E8FEB86659FD93u;
  Slot& slot = slots_[mixed >> (64 - slot_bits)];
  if (!slot.object || !slot.value.identical(value)) {
    PyRef made = decimal_to_py(value, texts_);
    // The object it replaces is mostly released here for good, on nearly every evaluation of
    // a converging search: at once, from this frame, rather than set aside by a destructor.
    slot.object.drop();
    slot.object = std::move(made);
    slot.value = value;
  }
  return slot.object.share();
}

PyRef DecimalObjectCache::to_py_list(std::span<const Decimal> values, PyRef spare) {
  items_.clear();
  for (const Decimal& value : values) items_.push_back(to_py(value));
  const bool reused = static_cast<bool>(spare);
  PyRef list = reused ? std::move(spare)
                      : steal_or_panic(PyList_New(static_cast<Py_ssize_t>(items_.size())));
  for (std::size_t j = 0; j < items_.size(); ++j) {
    PyObject* const kept = PyList_GET_ITEM(list.get(), static_cast<Py_ssize_t>(j));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), items_[j].release());
    Py_XDECREF(kept);  // a number f put there (SpareLists keeps no other)
  }
  items_.clear();
  return list;
}

}  // namespace swarmtuner
