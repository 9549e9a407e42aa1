// The PSO class: construction, the six setting attributes and the class object.
#include "python_layer/pso.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "python_layer/boundary.hpp"
#include "python_layer/element_conversion.hpp"

namespace swarmtuner {
namespace {

// ---- Conversions shared by the constructor and the setters --------------------------------

// Counts follow the unsigned 64-bit rule, coefficients the f64 rule of the bounds.
template <auto Member>
typename SettingField<Member>::type convert_setting(PyObject* object) {
  if constexpr (std::is_same_v<typename SettingField<Member>::type, std::uint64_t>) {
    return read_u64(object);
  } else {
    static_assert(std::is_same_v<typename SettingField<Member>::type, double>);
    return read_double(object);
  }
}

// Calls f(field, index) for every entry of setting_fields, in order.
template <class F>
void for_each_setting(F&& f) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (f(std::get<I>(setting_fields), I), ...);
  }
  (std::make_index_sequence<setting_count>{});
}

// ---- Constructor ---------------------------------------------------------------------------

PyObject* construct(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  const ParameterTable& parameters = slice<PsoClass>().new_parameters;
  std::array<PyObject*, setting_count> slots;
  parameters.match_tuple_dict(args, kwargs, slots);
  PsoSettings settings;  // the defaults
  // An argument that was given replaces the default; a TypeError names the argument.
  for_each_setting([&]<auto Member>(const SettingField<Member>&, std::size_t slot) {
    if (PyObject* argument = slots[slot]) {
      settings.*Member = convert_argument(parameters.name(slot),
                                          [&] { return convert_setting<Member>(argument); });
    }
  });

  const allocfunc allocate = subtype->tp_alloc != nullptr ? subtype->tp_alloc : PyType_GenericAlloc;
  PyRef instance = steal_or_throw(allocate(subtype, 0));
  auto* pso = reinterpret_cast<PsoObject*>(instance.get());
  pso->settings = settings;
  pso->borrow_state = 0;
  return instance.release();
}

PyObject* pso_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return call_boundary([&] { return construct(subtype, args, kwargs); });
}

// ---- Deallocation --------------------------------------------------------------------------

void release_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // Every instance of a heap type holds a reference to its class; it goes after the memory.
  const PyRef class_reference = PyRef::steal(reinterpret_cast<PyObject*>(type));
  const freefunc free_instance = type->tp_free != nullptr ? type->tp_free : PyObject_Free;
  free_instance(self);
}

void pso_dealloc(PyObject* self) {
  call_boundary_unraisable([&] { release_instance(self); });
}

// ---- Attributes ----------------------------------------------------------------------------

template <auto Member>
PyObject* read_setting(PyObject* self) {
  PsoObject& pso = pso_receiver(self);
  const SharedBorrow borrow(pso);
  const typename SettingField<Member>::type value = pso.settings.*Member;
  if constexpr (std::is_same_v<typename SettingField<Member>::type, std::uint64_t>) {
    return steal_or_panic(PyLong_FromUnsignedLongLong(value)).release();
  } else {
    return steal_or_panic(PyFloat_FromDouble(value)).release();
  }
}

// The value is converted before the receiver is looked at, so a bad value is reported as such
// even while a search holds the object.
template <auto Member>
void write_setting(PyObject* self, PyObject* value) {
  if (value == nullptr) raise(PyExc_AttributeError, "can't delete attribute");
  const auto converted = convert_setting<Member>(value);
  PsoObject& pso = pso_receiver(self);
  if (pso.borrow_state != 0) raise(PyExc_RuntimeError, "Already borrowed");
  pso.settings.*Member = converted;
}

template <auto Member>
PyObject* get_setting(PyObject* self, void*) {
  return call_boundary([&] { return read_setting<Member>(self); });
}

template <auto Member>
int set_setting(PyObject* self, PyObject* value, void*) {
  return call_boundary_status([&] { write_setting<Member>(self, value); });
}

// One attribute per setting, then the terminating entry.
template <std::size_t... I>
constexpr std::array<PyGetSetDef, setting_count + 1> make_setting_attributes(
    std::index_sequence<I...>) {
  return {{
      {std::get<I>(setting_fields).name, get_setting<SettingAt<I>::member>,
       set_setting<SettingAt<I>::member>, "", nullptr}...,
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  }};
}

std::array<PyGetSetDef, setting_count + 1> pso_attributes =
    make_setting_attributes(std::make_index_sequence<setting_count>{});

// ---- The class object ----------------------------------------------------------------------

// The class docstring body, one entry per line; Python shows it with CRLF line breaks.
constexpr std::string_view class_doc_lines[] = {
    "Particle Swarm Optimization (PSO) algorithm.",
    "粒子群优化算法。",
    "",
    "Represents the configuration parameters for the Particle Swarm Optimization algorithm.",
    "表示粒子群优化算法的配置参数。",
    "",
    "* `n_particles`:",
    "Number of particles in the swarm.",
    "群体中的粒子数量。",
    "* `n_iters`:",
    "Number of iterations for the optimization process.",
    "优化过程的迭代次数。",
    "* `c1`:",
    "Acceleration coefficient for a particle's adjustment towards its own best position. "
    "Typically in the range [0, 2].",
    "粒子朝向其自身最佳位置调整的加速系数。通常在范围 [0, 2] 内。",
    "* `c2`:",
    "Acceleration coefficient for a particle's adjustment towards the swarm's best position. "
    "Typically in the range [0, 2].",
    "粒子朝向群体最佳位置调整的加速系数。通常在范围 [0, 2] 内。",
    "* `max_v`:",
    "Maximum velocity ratio for particle movement.",
    "粒子移动的最大速度比率。",
    "* `inertia`: Coefficient representing the influence of the particle's current velocity on "
    "its next position update.",
    "表示粒子当前速度对其下一个位置更新的影响系数。",
    "",
    "# Example",
    "",
    "```cpp",
    "#include <your_package/pso.hpp>",
    "",
    "const your_package::PSO pso{",
    "    .n_particles = 100,",
    "    .n_iters = 100,",
    "    .c1 = 1.0,",
    "    .c2 = 1.0,",
    "    .max_v = 0.5,",
    "    .inertia = 0.5,",
    "};",
    "```",
};

// Python's repr of a setting's default: the digits of a count, the shortest repr of a float.
template <class T>
std::string default_repr(T value) {
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    return std::to_string(value);
  } else {
    const PyRef number = steal_or_throw(PyFloat_FromDouble(value));
    const PyRef repr = steal_or_throw(PyObject_Repr(number.get()));
    return utf8_or_throw(repr.get());
  }
}

// "(n_iters=1000, n_particles=30, ...)", from the settings' names and defaults.
std::string class_text_signature() {
  const PsoSettings defaults;
  std::string text = "(";
  for_each_setting([&]<auto Member>(const SettingField<Member>& field, std::size_t slot) {
    if (slot != 0) text += ", ";
    text += field.name;
    text += '=';
    text += default_repr(defaults.*Member);
  });
  return text + ")";
}

// Name, text signature and separator first, so that the interpreter derives
// __text_signature__ from it and shows only the body as __doc__.
std::string class_doc() {
  std::string text = "PSO" + class_text_signature() + "\n--\n\n";
  for (std::size_t i = 0; i < std::size(class_doc_lines); ++i) {
    if (i != 0) text += "\r\n";
    text += class_doc_lines[i];
  }
  return text;
}

}  // namespace

ParameterTable constructor_parameters() {
  std::vector<std::string> names;
  for_each_setting([&](const auto& field, std::size_t) { names.emplace_back(field.name); });
  return ParameterTable("PSO.__new__()", std::move(names), 0);
}

PyRef create_pso_type(PyMethodDef* methods) {
  // The interpreter keeps its own copy of the docstring.
  const std::string doc = class_doc();
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(doc.c_str())},
      {Py_tp_base, &PyBaseObject_Type},
      {Py_tp_dealloc, reinterpret_cast<void*>(pso_dealloc)},
      {Py_tp_new, reinterpret_cast<void*>(pso_new)},
      {Py_tp_methods, methods},
      {Py_tp_getset, pso_attributes.data()},
      {0, nullptr},
  };
  // Default flags only: no subclasses, no cyclic GC (a PSO holds no references), no
  // __dict__ and no weak references.
  PyType_Spec spec = {"builtins.PSO", static_cast<int>(sizeof(PsoObject)), 0, Py_TPFLAGS_DEFAULT,
                      slots};
  if (PyObject* type = PyType_FromSpec(&spec)) return PyRef::steal(type);

  PythonError cause = fetch_python_error();
  cause.normalize();
  PyRef error = steal_or_throw(PyObject_CallFunction(
      PyExc_RuntimeError, "s", "An error occurred while initializing class PSO"));
  PyException_SetCause(error.get(), PyRef::borrow(cause.value()).release());
  throw PythonError(PyRef::borrow(PyExc_RuntimeError), std::move(error), PyRef());
}

PyTypeObject* pso_type() noexcept {
  return reinterpret_cast<PyTypeObject*>(slice<PsoClass>().type.get());
}

PsoObject& pso_receiver(PyObject* self) {
  PyTypeObject* type = pso_type();
  if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
    raise(PyExc_TypeError, "'" + type_qualname(self) + "' object cannot be converted to 'PSO'");
  }
  return *reinterpret_cast<PsoObject*>(self);
}

}  // namespace swarmtuner
