// Calling the objective, and ordering and negating the values it returns.
#include "python_objective.hpp"

#include <array>
#include <bit>
#include <string>

#include "element_conversion.hpp"

namespace swarmtuner {
namespace {

// One rich comparison and its truth value; nullopt when either raised. The error is taken
// (so a pending PanicException still ends the search) and dropped.
std::optional<bool> compare_op(PyObject* a, PyObject* b, int op) {
  const PyRef result = PyRef::steal(PyObject_RichCompare(a, b, op));
  if (result) {
    const int truth = PyObject_IsTrue(result.get());
    if (truth >= 0) return truth == 1;
  }
  (void)fetch_python_error();
  return std::nullopt;
}

// Interned once per process and never released, like every class-level cache here.
PyObject* neg_method_name() {
  static PyObject* const name = PyUnicode_InternFromString("__neg__");
  if (name == nullptr) throw_python_error();
  return name;
}

}  // namespace

std::optional<Ordering> PyWrapper::compare(const PyWrapper& a, const PyWrapper& b) {
  // Two exact floats compare without side effects, so the three comparisons below can be made
  // on the doubles themselves: equal, else less or not (NaN is neither equal nor less).
  if (PyFloat_CheckExact(a.get()) && PyFloat_CheckExact(b.get())) {
    const double x = PyFloat_AS_DOUBLE(a.get());
    const double y = PyFloat_AS_DOUBLE(b.get());
    if (x == y) return Ordering::Equal;
    return x < y ? Ordering::Less : Ordering::Greater;
  }
  if (compare_op(a.get(), b.get(), Py_EQ) == true) return Ordering::Equal;
  if (const std::optional<bool> less = compare_op(a.get(), b.get(), Py_LT)) {
    return *less ? Ordering::Less : Ordering::Greater;
  }
  if (const std::optional<bool> greater = compare_op(a.get(), b.get(), Py_GT)) {
    return *greater ? Ordering::Greater : Ordering::Less;
  }
  return std::nullopt;
}

PyWrapper PyWrapper::negate(PyWrapper a) {
  // float.__neg__ of an exact float is just the negated double.
  if (PyFloat_CheckExact(a.get())) {
    PyObject* const negated = PyFloat_FromDouble(-PyFloat_AS_DOUBLE(a.get()));
    if (negated == nullptr) fail_python_api_call();
    return PyWrapper(PyRef::steal(negated));
  }
  PyObject* const args[] = {a.get()};
  PyRef negated = PyRef::steal(PyObject_VectorcallMethod(
      neg_method_name(), args, 1, nullptr));
  if (!negated) fail("There is no __neg__ method: " + fetch_python_error().describe());
  return PyWrapper(std::move(negated));
}

PyObject* KeywordNames::for_kinds(std::uint32_t kinds) {
  if (names_ && kinds == kinds_) return names_.get();
  PyRef names = PyRef::steal(PyTuple_New(std::popcount(kinds)));
  if (!names) fail_python_api_call();
  Py_ssize_t slot = 0;
  for (ElementKind kind : all_kinds) {
    if ((kinds >> kind_index(kind) & 1) == 0) continue;
    PyTuple_SET_ITEM(names.get(), slot++, PyRef::borrow(kind_key(kind)).release());
  }
  names_ = std::move(names);
  kinds_ = kinds;
  return names_.get();
}

PyWrapper call_objective(PyObject* f, const XVec& position, CallCache& cache) {
  std::array<PyRef, kind_count> lists;
  std::uint32_t kinds = 0;
  const std::size_t count = xvec_to_py_lists(position, lists, kinds, cache.decimals);
  // Slot 0 is left free for the callee (PY_VECTORCALL_ARGUMENTS_OFFSET); the lists follow.
  std::array<PyObject*, kind_count + 1> arguments{};
  for (std::size_t k = 0; k < count; ++k) arguments[k + 1] = lists[k].get();
  PyObject* const keywords = count == 0 ? nullptr : cache.names.for_kinds(kinds);
  PyRef result = PyRef::steal(
      PyObject_Vectorcall(f, arguments.data() + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, keywords));
  if (!result) fail("failed to call f: " + fetch_python_error().describe());
  return PyWrapper(std::move(result));
}

}  // namespace swarmtuner
