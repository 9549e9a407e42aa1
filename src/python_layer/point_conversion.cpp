// Whole points handed to Python: the result's dict, and the keyword lists of a call of f.
#include "python_layer/point_conversion.hpp"

#include <string>

#include "python_layer/element_conversion.hpp"
#include "python_layer/py_text.hpp"
#include "python_layer/state_slice.hpp"

namespace swarmtuner {

KindKeys intern_kind_keys() {
  KindKeys kind_keys;
  for (const ElementKind kind : all_kinds) {
    kind_keys.keys[kind_index(kind)] = intern_or_throw(std::string(kind_name(kind)).c_str());
  }
  return kind_keys;
}

namespace {

// A new list of the components' Python objects. Failures are internal failures.
template <ElementKind K>
PyRef components_to_py_list(const std::vector<Element<K>>& components) {
  PyRef list = steal_or_panic(PyList_New(static_cast<Py_ssize_t>(components.size())));
  for (std::size_t j = 0; j < components.size(); ++j) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j),
                    element_to_py<K>(components[j]).release());
  }
  return list;
}

}  // namespace

PyRef xvec_to_py_dict(const XVec& point) {
  PyRef dict = steal_or_panic(PyDict_New());
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const auto& components = point.list<K>();
    if (components.empty()) return;
    const PyRef list = components_to_py_list<K>(components);
    const PyRef& key = slice<KindKeys>().keys[kind_index(K)];
    if (PyDict_SetItem(dict.get(), key.get(), list.get()) < 0) {
      panic_with_python_error("called `Result::unwrap()` on an `Err` value");
    }
  });
  return dict;
}

std::size_t xvec_to_py_lists(const XVec& point, std::array<PyRef, kind_count>& lists,
                             std::uint32_t& kinds, DecimalObjectCache& decimals) {
  std::size_t count = 0;
  kinds = 0;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const auto& components = point.list<K>();
    if (components.empty()) return;
    if constexpr (K == ElementKind::D) {
      PyRef list = steal_or_panic(PyList_New(static_cast<Py_ssize_t>(components.size())));
      for (std::size_t j = 0; j < components.size(); ++j) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j),
                        decimals.to_py(components[j]).release());
      }
      lists[count++] = std::move(list);
    } else {
      lists[count++] = components_to_py_list<K>(components);
    }
    kinds |= std::uint32_t{1} << kind_index(K);
  });
  return count;
}

}  // namespace swarmtuner
