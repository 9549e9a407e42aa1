// The version-dependent calls of cpython_compat.hpp, one branch per CPython version range.
#include "python_layer/cpython_compat.hpp"

#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
// CPython's own test, exported by 3.12 for extension modules but declared only in its internal
// headers: false, with the ImportError set, in a sub-interpreter that takes no module with a
// single-phase initialisation (honouring CPython's override of the check for tests).
extern "C" int _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);
#endif

namespace swarmtuner::cpython {

InitialisationRun initialisation_run([[maybe_unused]] const char* name) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  // From 3.13 a sub-interpreter's import runs a single-phase initialisation in the main
  // interpreter, on a thread state made for the run, then checks whether the importer takes
  // such modules and, if it does, runs the initialisation again in the importer. That first run
  // is the one of the main interpreter with no Python frame while another interpreter exists:
  // an import from Python code runs the initialisation beneath the frames of the import system.
  if (PyInterpreterState_Get() == PyInterpreterState_Main() && PyEval_GetGlobals() == nullptr &&
      PyInterpreterState_Next(PyInterpreterState_Head()) != nullptr) {
    return InitialisationRun::on_behalf_of_sub_interpreter;
  }
  return InitialisationRun::for_importer;
#elif PY_VERSION_HEX >= 0x030C0000
  // 3.12 runs the initialisation in the importer and checks only afterwards.
  return _PyImport_CheckSubinterpIncompatibleExtensionAllowed(name) < 0
             ? InitialisationRun::refused
             : InitialisationRun::for_importer;
#else
  // Before 3.12 every sub-interpreter takes such modules.
  return InitialisationRun::for_importer;
#endif
}

int long_as_signed_le_bytes(PyObject* integer, unsigned char* bytes, std::size_t size) {
#if PY_VERSION_HEX >= 0x030D0000
  // The public call reports the size the value needs instead of raising; the message is the
  // one the older call raises.
  const Py_ssize_t needed = PyLong_AsNativeBytes(integer, bytes, static_cast<Py_ssize_t>(size),
                                                 Py_ASNATIVEBYTES_LITTLE_ENDIAN);
  if (needed < 0) return -1;
  if (static_cast<std::size_t>(needed) > size) {
    PyErr_SetString(PyExc_OverflowError, "int too big to convert");
    return -1;
  }
  return 0;
#else
  return _PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(integer), bytes, size,
                             /*little_endian=*/1, /*is_signed=*/1);
#endif
}

PyObject* long_from_signed_le_bytes(const unsigned char* bytes, std::size_t size) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyLong_FromNativeBytes(bytes, size, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
#else
  return _PyLong_FromByteArray(bytes, size, /*little_endian=*/1, /*is_signed=*/1);
#endif
}

Py_ssize_t long_signed_byte_size(PyObject* integer) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyLong_AsNativeBytes(integer, nullptr, 0, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
#else
  const std::size_t bits = _PyLong_NumBits(integer);
  if (bits == static_cast<std::size_t>(-1)) return -1;
  // One more byte than the magnitude needs leaves room for the sign bit.
  return static_cast<Py_ssize_t>(bits / 8 + 1);
#endif
}

#if PY_VERSION_HEX >= 0x030E0000
namespace {
std::optional<DigitLayout> read_native_digit_layout() noexcept {
  const PyLongLayout* const layout = PyLong_GetNativeLayout();
  if (layout->digits_order != -1) return std::nullopt;
  return DigitLayout{layout->bits_per_digit, layout->digit_size};
}
}  // namespace

// PyLong_GetNativeLayout only hands out the interpreter's constant description, so it can be
// asked while the module's library is loaded, before its initialisation runs.
const std::optional<DigitLayout> detail::native_digit_layout = read_native_digit_layout();

#else
// Before 3.14 the public ways in are the byte exchanges, which Python reads one byte at a
// time and which cost more than the rest of a conversion. So the digits are written into a new
// int of the documented layout of each of these released, frozen versions, the way Python's
// own arithmetic fills the ints it makes: 3.10 and 3.11 keep the sign in ob_size, 3.12 and
// 3.13 in the two bits under the digit count of lv_tag (0 positive, 1 zero, 2 negative).

namespace detail {
void* begin_long(bool, std::size_t count, void** digits) noexcept {
  PyLongObject* const made = _PyLong_New(static_cast<Py_ssize_t>(count));
  if (made == nullptr) return nullptr;
#if PY_VERSION_HEX >= 0x030C0000
  *digits = made->long_value.ob_digit;
#else
  *digits = made->ob_digit;
#endif
  return made;
}
PyObject* finish_long(void* started, bool negative, [[maybe_unused]] std::size_t count) noexcept {
  PyLongObject* const made = static_cast<PyLongObject*>(started);
  if (negative) {
#if PY_VERSION_HEX >= 0x030C0000
    made->long_value.lv_tag |= 2;
#else
    Py_SET_SIZE(made, -static_cast<Py_ssize_t>(count));
#endif
  }
  return reinterpret_cast<PyObject*>(made);
}
}  // namespace detail

#endif

}  // namespace swarmtuner::cpython
