// The PSO class: construction, the six setting attributes, min and max, and the class object.
#include "pso.hpp"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "args.hpp"
#include "element_conversion.hpp"
#include "solve.hpp"

namespace swarmtuner {
namespace {

// ---- Conversions shared by the constructor and the setters --------------------------------

// int, bool and anything with __index__; never float. Negative values and values of 2**64
// or more raise the interpreter's OverflowError.
std::uint64_t to_u64(PyObject* object) {
  PyRef index = check(PyNumber_Index(object));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
  return value;
}

// An exact float is read as it is; anything else goes through __float__ or __index__.
double to_f64(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

template <class Member>
struct MemberType;
template <class Class, class T>
struct MemberType<T Class::*> {
  using type = T;
};
template <auto Field>
using SettingType = typename MemberType<decltype(Field)>::type;

template <auto Field>
SettingType<Field> convert_setting(PyObject* object) {
  if constexpr (std::is_same_v<SettingType<Field>, std::uint64_t>) {
    return to_u64(object);
  } else {
    return to_f64(object);
  }
}

// ---- Constructor ---------------------------------------------------------------------------

constexpr std::array<const char*, 6> new_parameter_names = {"n_iters", "n_particles", "c1",
                                                            "c2",      "inertia",     "max_v"};
const ParameterTable new_parameters("PSO.__new__()", new_parameter_names, 0);

// An argument that was given replaces the default; a TypeError names the argument.
template <auto Field>
void take_argument(PsoSettings& settings, std::span<PyObject* const> slots, std::size_t slot) {
  if (PyObject* argument = slots[slot]) {
    settings.*Field = convert_argument(new_parameters.name(slot),
                                       [&] { return convert_setting<Field>(argument); });
  }
}

PyObject* construct(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, new_parameter_names.size()> slots;
  new_parameters.match_tuple_dict(args, kwargs, slots);
  PsoSettings settings;  // the defaults
  take_argument<&PsoSettings::n_iters>(settings, slots, 0);
  take_argument<&PsoSettings::n_particles>(settings, slots, 1);
  take_argument<&PsoSettings::c1>(settings, slots, 2);
  take_argument<&PsoSettings::c2>(settings, slots, 3);
  take_argument<&PsoSettings::inertia>(settings, slots, 4);
  take_argument<&PsoSettings::max_v>(settings, slots, 5);

  const allocfunc allocate = subtype->tp_alloc != nullptr ? subtype->tp_alloc : PyType_GenericAlloc;
  PyRef instance = check(allocate(subtype, 0));
  auto* pso = reinterpret_cast<PsoObject*>(instance.get());
  pso->settings = settings;
  pso->borrow_state = 0;
  return instance.release();
}

PyObject* pso_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
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

void pso_dealloc(PyObject* self) noexcept {
  call_boundary_unraisable([&] { release_instance(self); });
}

// ---- Attributes ----------------------------------------------------------------------------

template <auto Field>
PyObject* read_setting(PyObject* self) {
  PsoObject& pso = pso_receiver(self);
  const SharedBorrow borrow(pso);
  const SettingType<Field> value = pso.settings.*Field;
  PyObject* result;
  if constexpr (std::is_same_v<SettingType<Field>, std::uint64_t>) {
    result = PyLong_FromUnsignedLongLong(value);
  } else {
    result = PyFloat_FromDouble(value);
  }
  if (result == nullptr) fail_python_api_call();
  return result;
}

// The value is converted before the receiver is looked at, so a bad value is reported as such
// even while a search holds the object.
template <auto Field>
void write_setting(PyObject* self, PyObject* value) {
  if (value == nullptr) raise(PyExc_AttributeError, "can't delete attribute");
  const SettingType<Field> converted = convert_setting<Field>(value);
  PsoObject& pso = pso_receiver(self);
  const ExclusiveBorrow borrow(pso);
  pso.settings.*Field = converted;
}

template <auto Field>
PyObject* get_setting(PyObject* self, void*) noexcept {
  return call_boundary([&] { return read_setting<Field>(self); });
}

template <auto Field>
int set_setting(PyObject* self, PyObject* value, void*) noexcept {
  return call_boundary_status([&] { write_setting<Field>(self, value); });
}

template <auto Field>
constexpr PyGetSetDef setting_attribute(const char* name) {
  return {name, get_setting<Field>, set_setting<Field>, "", nullptr};
}

PyGetSetDef pso_attributes[] = {
    setting_attribute<&PsoSettings::n_iters>("n_iters"),
    setting_attribute<&PsoSettings::n_particles>("n_particles"),
    setting_attribute<&PsoSettings::c1>("c1"),
    setting_attribute<&PsoSettings::c2>("c2"),
    setting_attribute<&PsoSettings::inertia>("inertia"),
    setting_attribute<&PsoSettings::max_v>("max_v"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- min and max ---------------------------------------------------------------------------

// The objective, then a lower and an upper bound list per element kind, in kind order.
constexpr std::array<const char*, 1 + 2 * kind_count> solve_parameter_names = {
    "f",       "i8_min",   "i8_max",   "i16_min",  "i16_max",  "i32_min", "i32_max", "i64_min",
    "i64_max", "i128_min", "i128_max", "i_min",    "i_max",    "f32_min", "f32_max", "f64_min",
    "f64_max", "c64_min",  "c64_max",  "c128_min", "c128_max", "d_min",   "d_max"};
const ParameterTable min_parameters("PSO.min()", solve_parameter_names, 1);
const ParameterTable max_parameters("PSO.max()", solve_parameter_names, 1);

template <ElementKind K>
void take_bound(const ParameterTable& parameters, std::span<PyObject* const> slots,
                std::size_t slot, std::vector<Element<K>>& into) {
  if (PyObject* argument = slots[slot]) {
    into = convert_argument(parameters.name(slot),
                            [&] { return extract_component_list<K>(argument); });
  }
}

struct StackBounds {
  std::uintptr_t low = 0;      // lowest address of the thread's stack; 0 when unknown
  std::uintptr_t reserve = 0;  // room a search must leave for the code it calls
};

// The calling thread's stack, read once per thread.
const StackBounds& stack_bounds() {
  thread_local const StackBounds bounds = [] {
    StackBounds result;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* low = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
        result.low = reinterpret_cast<std::uintptr_t>(low);
        // Half a megabyte, or a quarter of a small thread stack.
        result.reserve = std::min<std::uintptr_t>(512 * 1024, size / 4);
      }
      pthread_attr_destroy(&attributes);
    }
    return result;
  }();
  return bounds;
}

// Searches nested inside f (a search in f in a search ...) use C stack at every level. With a
// raised recursion limit the interpreter would let them run the stack out and crash, so a
// search that would start with little stack left is refused like too deep a Python recursion.
void check_stack_room() {
  const StackBounds& bounds = stack_bounds();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (bounds.low != 0 && here - bounds.low < bounds.reserve) {
    raise(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
  }
}

PyObject* solve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                const ParameterTable& parameters, bool maximise) {
  check_stack_room();
  std::array<PyObject*, solve_parameter_names.size()> slots;
  parameters.match_fastcall(args, nargs, kwnames, slots);
  PsoObject& pso = pso_receiver(self);
  const SharedBorrow borrow(pso);
  const PyRef f = PyRef::borrow(slots[0]);

  XVec lower;
  XVec upper;
  for_each_kind([&](auto kind) {
    constexpr ElementKind K = decltype(kind)::value;
    constexpr std::size_t lower_slot = 1 + 2 * kind_index(K);
    take_bound<K>(parameters, slots, lower_slot, lower.list<K>());
    take_bound<K>(parameters, slots, lower_slot + 1, upper.list<K>());
  });

  auto [value, position] =
      run_python_search(pso.settings, f.get(), std::move(lower), std::move(upper), maximise);
  PyRef result = PyRef::steal(PyTuple_New(2));
  if (!result) fail_python_api_call();
  PyTuple_SET_ITEM(result.get(), 0, value.release());
  PyTuple_SET_ITEM(result.get(), 1, position.release());
  return result.release();
}

PyObject* pso_min(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) noexcept {
  return call_boundary([&] { return solve(self, args, nargs, kwnames, min_parameters, false); });
}

PyObject* pso_max(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) noexcept {
  return call_boundary([&] { return solve(self, args, nargs, kwnames, max_parameters, true); });
}

// The interpreter stores every method as PyCFunction and casts back by the flags.
template <class Function>
PyCFunction as_method(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef pso_methods[] = {
    {"min", as_method(pso_min), METH_FASTCALL | METH_KEYWORDS,
     "min($self, f, i8_min=..., i8_max=..., i16_min=..., i16_max=..., i32_min=..., "
     "i32_max=..., i64_min=..., i64_max=..., i128_min=..., i128_max=..., i_min=..., i_max=..., "
     "f32_min=..., f32_max=..., f64_min=..., f64_max=..., c64_min=..., c64_max=..., "
     "c128_min=..., c128_max=..., d_min=..., d_max=...)\n--\n\n"},
    {"max", as_method(pso_max), METH_FASTCALL | METH_KEYWORDS,
     "max($self, f, i8_min=..., i8_max=..., i16_min=..., i16_max=..., i32_min=..., "
     "i32_max=..., i64_min=..., i64_max=..., i128_min=..., i128_max=..., i_min=..., i_max=..., "
     "f32_min=..., f32_max=..., f64_min=..., f64_max=..., c64_min=..., c64_max=..., "
     "c128_min=..., c128_max=..., d_min=..., d_max=...)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

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

// Name, text signature and separator first, so that the interpreter derives
// __text_signature__ from it and shows only the body as __doc__.
const std::string& class_doc() {
  static const std::string doc = [] {
    std::string text =
        "PSO(n_iters=1000, n_particles=30, c1=2.0, c2=2.0, inertia=0.5, max_v=0.2)\n--\n\n";
    for (std::size_t i = 0; i < std::size(class_doc_lines); ++i) {
      if (i != 0) text += "\r\n";
      text += class_doc_lines[i];
    }
    return text;
  }();
  return doc;
}

PyObject* create_pso_type() {
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(class_doc().c_str())},
      {Py_tp_base, &PyBaseObject_Type},
      {Py_tp_dealloc, reinterpret_cast<void*>(pso_dealloc)},
      {Py_tp_new, reinterpret_cast<void*>(pso_new)},
      {Py_tp_methods, pso_methods},
      {Py_tp_getset, pso_attributes},
      {0, nullptr},
  };
  // Default flags only: no subclasses, no cyclic GC (a PSO holds no references), no
  // __dict__ and no weak references.
  PyType_Spec spec = {"builtins.PSO", static_cast<int>(sizeof(PsoObject)), 0, Py_TPFLAGS_DEFAULT,
                      slots};
  PyObject* type = PyType_FromSpec(&spec);
  if (type != nullptr) return type;

  PythonError cause = fetch_python_error();
  cause.normalize();
  PyRef error = check(PyObject_CallFunction(PyExc_RuntimeError, "s",
                                            "An error occurred while initializing class PSO"));
  PyException_SetCause(error.get(), PyRef::borrow(cause.value()).release());
  throw PythonError(PyRef::borrow(PyExc_RuntimeError), std::move(error), PyRef());
}

}  // namespace

PyTypeObject* pso_type() {
  // Filled once under the GIL and never released: instances and the module refer to it.
  static PyObject* cached = nullptr;
  if (cached == nullptr) cached = create_pso_type();
  return reinterpret_cast<PyTypeObject*>(cached);
}

PsoObject& pso_receiver(PyObject* self) {
  PyTypeObject* type = pso_type();
  if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
    std::string name;
    PyRef qualname = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__qualname__"));
    if (qualname && PyUnicode_Check(qualname.get())) {
      name = to_utf8_lossy(qualname.get());
    } else {
      PyErr_Clear();
      name = Py_TYPE(self)->tp_name;
    }
    raise(PyExc_TypeError, "'" + name + "' object cannot be converted to 'PSO'");
  }
  return *reinterpret_cast<PsoObject*>(self);
}

}  // namespace swarmtuner
