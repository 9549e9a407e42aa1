// Calling the objective, and ordering and negating the values it returns.
#include "prelude/py_wrapper.hpp"

#include <string>

#include "prelude/py_convert.hpp"

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

PyObject* empty_tuple() {
  static PyObject* const tuple = PyTuple_New(0);
  if (tuple == nullptr) throw_python_error();
  return tuple;
}

}  // namespace

std::optional<Ordering> PyWrapper::compare(const PyWrapper& a, const PyWrapper& b) {
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
  PyObject* const args[] = {a.get()};
  PyRef negated = PyRef::steal(PyObject_VectorcallMethod(
      neg_method_name(), args, 1, nullptr));
  if (!negated) fail("There is no __neg__ method: " + fetch_python_error().describe());
  return PyWrapper(std::move(negated));
}

PyWrapper call_objective(PyObject* f, const XVec& position) {
  const PyRef kwargs = xvec_to_py_dict(position);
  PyRef result = PyRef::steal(PyObject_Call(f, empty_tuple(), kwargs.get()));
  if (!result) fail("failed to call f: " + fetch_python_error().describe());
  return PyWrapper(std::move(result));
}

}  // namespace swarmtuner
