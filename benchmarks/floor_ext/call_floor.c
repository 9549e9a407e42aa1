/* The calls and object constructions the overhead benchmarks measure the module against, made
 * from C as an extension makes them, and the markers that split a callgrind count into phases.
 *
 * Every loop here runs over a list built by the benchmark beforehand, so a phase costs what its
 * calls cost and no Python bytecode.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifdef CALL_FLOOR_HAVE_CALLGRIND
#include <valgrind/callgrind.h>
#endif

/* At most one list per element kind, as the module passes them. */
#define MAX_LISTS 16

static int check_list(PyObject* obj, const char* what) {
  if (PyList_CheckExact(obj)) return 0;
  PyErr_Format(PyExc_TypeError, "%s must be a list, not %.100s", what, Py_TYPE(obj)->tp_name);
  return -1;
}

/* f(**dict(zip(kwnames, row))) for each row, made as the module makes it: by vectorcall with
 * the tuple of keyword names and no positional arguments, one free slot before the arguments
 * for the callee, and the result released at once. */
static PyObject* call_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  (void)self;
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "call_each(f, kwnames, rows)");
    return NULL;
  }
  PyObject* f = args[0];
  PyObject* kwnames = args[1];
  PyObject* rows = args[2];
  if (!PyTuple_CheckExact(kwnames) || PyTuple_GET_SIZE(kwnames) > MAX_LISTS) {
    PyErr_SetString(PyExc_TypeError, "kwnames must be a tuple of at most 16 names");
    return NULL;
  }
  if (check_list(rows, "rows") < 0) return NULL;
  const Py_ssize_t width = PyTuple_GET_SIZE(kwnames);
  PyObject* arguments[MAX_LISTS + 1];
  for (Py_ssize_t r = 0; r < PyList_GET_SIZE(rows); ++r) {
    PyObject* row = PyList_GET_ITEM(rows, r);
    if (!PyTuple_CheckExact(row) || PyTuple_GET_SIZE(row) != width) {
      PyErr_SetString(PyExc_TypeError, "each row must be a tuple as long as kwnames");
      return NULL;
    }
    for (Py_ssize_t k = 0; k < width; ++k) arguments[k + 1] = PyTuple_GET_ITEM(row, k);
    PyObject* result =
        PyObject_Vectorcall(f, arguments + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
    if (result == NULL) return NULL;
    Py_DECREF(result);
  }
  Py_RETURN_NONE;
}

/* -v for each value, released at once: a new object of the value's type and size, which is
 * what converting that value from the module's own form costs at best. */
static PyObject* negate_each(PyObject* self, PyObject* values) {
  (void)self;
  if (check_list(values, "values") < 0) return NULL;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values); ++i) {
    PyObject* negated = PyNumber_Negative(PyList_GET_ITEM(values, i));
    if (negated == NULL) return NULL;
    Py_DECREF(negated);
  }
  Py_RETURN_NONE;
}

/* [-v] for each value: a fresh list holding one new object, released at once. */
static PyObject* listed_negation_each(PyObject* self, PyObject* values) {
  (void)self;
  if (check_list(values, "values") < 0) return NULL;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values); ++i) {
    PyObject* negated = PyNumber_Negative(PyList_GET_ITEM(values, i));
    if (negated == NULL) return NULL;
    PyObject* list = PyList_New(1);
    if (list == NULL) {
      Py_DECREF(negated);
      return NULL;
    }
    PyList_SET_ITEM(list, 0, negated);
    Py_DECREF(list);
  }
  Py_RETURN_NONE;
}

/* cls(a) for each argument, released at once (Decimal(text) for the decimal kind). */
static PyObject* construct_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  (void)self;
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "construct_each(cls, arguments)");
    return NULL;
  }
  PyObject* cls = args[0];
  PyObject* arguments = args[1];
  if (check_list(arguments, "arguments") < 0) return NULL;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(arguments); ++i) {
    PyObject* made = PyObject_CallOneArg(cls, PyList_GET_ITEM(arguments, i));
    if (made == NULL) return NULL;
    Py_DECREF(made);
  }
  Py_RETURN_NONE;
}

/* Ends the current callgrind count under the given name and starts the next; nothing when the
 * process does not run under callgrind. */
static PyObject* mark(PyObject* self, PyObject* name) {
  (void)self;
  const char* text = PyUnicode_AsUTF8(name);
  if (text == NULL) return NULL;
#ifdef CALL_FLOOR_HAVE_CALLGRIND
  CALLGRIND_DUMP_STATS_AT(text);
#endif
  Py_RETURN_NONE;
}

/* Whether mark() splits callgrind's counts: built with its client requests and running under
 * valgrind. */
static PyObject* counting(PyObject* self, PyObject* unused) {
  (void)self;
  (void)unused;
#ifdef CALL_FLOOR_HAVE_CALLGRIND
  return PyBool_FromLong(RUNNING_ON_VALGRIND ? 1 : 0);
#else
  Py_RETURN_FALSE;
#endif
}

static PyMethodDef methods[] = {
    {"call_each", (PyCFunction)(void (*)(void))call_each, METH_FASTCALL,
     "call_each(f, kwnames, rows): f called by vectorcall with each row's lists as keywords."},
    {"negate_each", negate_each, METH_O, "negate_each(values): -v of each value, released."},
    {"listed_negation_each", listed_negation_each, METH_O,
     "listed_negation_each(values): [-v] for each value, released."},
    {"construct_each", (PyCFunction)(void (*)(void))construct_each, METH_FASTCALL,
     "construct_each(cls, arguments): cls(a) for each argument, released."},
    {"mark", mark, METH_O, "mark(name): ends callgrind's current count under this name."},
    {"counting", counting, METH_NOARGS, "counting(): whether mark() splits callgrind's counts."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_call_floor",
    .m_doc = "Calls and object constructions made from C.",
    .m_size = -1,
    .m_methods = methods,
};

PyMODINIT_FUNC PyInit__call_floor(void) {
  return PyModule_Create(&module);
}
