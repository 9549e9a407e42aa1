// Objective values: what f returned, ordered with Python's operators and negated by __neg__.
#include "python_layer/objective_value.hpp"

#include "numeric_core/failure.hpp"
#include "python_layer/boundary.hpp"
#include "python_layer/cpython_compat.hpp"

namespace swarmtuner {
namespace {

// One rich comparison and its truth value; nullopt when either raised an ordinary error,
// which is dropped: a value that cannot be ordered is simply not better. A PanicException
// still ends the search, Ctrl-C landing while __lt__ runs (KeyboardInterrupt) and sys.exit()
// end it as themselves, and any other exception that is not an Exception (GeneratorExit) ends
// it as failed_to_compare followed by the error's description.
std::optional<bool> compare_op(PyObject* a, PyObject* b, int op) {
  const PyRef result = PyRef::steal(PyObject_RichCompare(a, b, op));
  if (result) {
    const int truth = PyObject_IsTrue(result.get());
    if (truth >= 0) return truth == 1;
  }
  PythonError error = fetch_python_error();
  if (!error.is_ordinary()) [[unlikely]] {
    panic_with_python_error(failure_text::failed_to_compare.text, std::move(error));
  }
  return std::nullopt;
}

}  // namespace

NegMethodName intern_neg_method_name() {
  return {intern_or_throw("__neg__")};
}

std::optional<Ordering> ObjectiveValue::compare(const ObjectiveValue& a, const ObjectiveValue& b) {
  // Two exact floats compare without side effects, so the three comparisons below can be made
  // on the doubles themselves: equal, else less or not (NaN is neither equal nor less).
  if (PyFloat_CheckExact(a.get()) && PyFloat_CheckExact(b.get())) {
    const double x = PyFloat_AS_DOUBLE(a.get());
    const double y = PyFloat_AS_DOUBLE(b.get());
    if (x == y) return Ordering::Equal;
    return x < y ? Ordering::Less : Ordering::Greater;
  }
  // So do two exact ints; those that fit 64 bits (all but the huge) compare as C integers,
  // read straight from the ints where they have one digit.
  if (PyLong_CheckExact(a.get()) && PyLong_CheckExact(b.get())) {
    const std::optional<Py_ssize_t> x_digit = cpython::one_digit_long_value(a.get());
    const std::optional<Py_ssize_t> y_digit = cpython::one_digit_long_value(b.get());
    if (x_digit && y_digit) {
      if (*x_digit == *y_digit) return Ordering::Equal;
      return *x_digit < *y_digit ? Ordering::Less : Ordering::Greater;
    }
    int a_overflow = 0;
    int b_overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(a.get(), &a_overflow);
    const long long y = PyLong_AsLongLongAndOverflow(b.get(), &b_overflow);
    if (a_overflow == 0 && b_overflow == 0) {
      if (x == y) return Ordering::Equal;
      return x < y ? Ordering::Less : Ordering::Greater;
    }
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

ObjectiveValue ObjectiveValue::negate(ObjectiveValue a) {
  // float.__neg__ of an exact float is just the negated double.
  if (PyFloat_CheckExact(a.get())) {
    return ObjectiveValue(steal_or_panic(PyFloat_FromDouble(-PyFloat_AS_DOUBLE(a.get()))));
  }
  PyObject* const args[] = {a.get()};
  PyRef negated =
      PyRef::steal(PyObject_VectorcallMethod(slice<NegMethodName>().name.get(), args, 1, nullptr));
  if (!negated) panic_with_python_error("There is no __neg__ method");
  return ObjectiveValue(std::move(negated));
}

}  // namespace swarmtuner
