// Conversions between Python objects and element values, component lists and whole points.
#include "python_layer/element_conversion.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python_layer/module_state.hpp"
#include "python_layer/py_text.hpp"

namespace swarmtuner {
namespace {

// Inbound conversions pass every Python error on (steal_or_throw, throw_python_error) and may
// not leave one pending; outbound ones have no error of their own, and a failure to make an
// object ends the search (steal_or_panic).

PyRef index_of(PyObject* object) {
  return steal_or_throw(PyNumber_Index(object));
}

// The 32-bit C long stage of the i8, i16 and i32 rules. The C long has 64 bits here, so the
// 32-bit overflow is raised with the interpreter's own wording for a C long.
long read_c_long_32(PyObject* object) {
  const PyRef index = index_of(object);
  const long value = PyLong_AsLong(index.get());
  if (value == -1 && PyErr_Occurred()) throw_python_error();
  if (value < INT32_MIN || value > INT32_MAX) {
    raise(PyExc_OverflowError, "Python int too large to convert to C long");
  }
  return value;
}

template <class Int>
Int read_narrow_int(PyObject* object) {
  const long value = read_c_long_32(object);
  if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
    raise(PyExc_OverflowError, "out of range integral type conversion attempted");
  }
  return static_cast<Int>(value);
}

// The i64 rule, leaving its error pending on failure (for the decimal rule, which drops it).
std::optional<std::int64_t> try_read_i64(PyObject* object) {
  const PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return std::nullopt;
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) return std::nullopt;
  return value;
}

std::int64_t read_i64(PyObject* object) {
  const std::optional<std::int64_t> value = try_read_i64(object);
  if (!value) throw_python_error();
  return *value;
}

// Little-endian two's complement bytes of an int; OverflowError when it needs more. Python
// 3.13 added a flag that asks for that exception, which earlier versions always raise.
void copy_signed_le_bytes(PyObject* integer, unsigned char* bytes, std::size_t size) {
  PyLongObject* const as_long = reinterpret_cast<PyLongObject*>(integer);
#if PY_VERSION_HEX >= 0x030D0000
  const int status = _PyLong_AsByteArray(as_long, bytes, size, /*little_endian=*/1,
                                         /*is_signed=*/1, /*with_exceptions=*/1);
#else
  const int status = _PyLong_AsByteArray(as_long, bytes, size, /*little_endian=*/1,
                                         /*is_signed=*/1);
#endif
  if (status < 0) throw_python_error();
}

Int128 read_i128(PyObject* object) {
  const PyRef index = index_of(object);
  std::array<unsigned char, 16> bytes{};
  copy_signed_le_bytes(index.get(), bytes.data(), bytes.size());
  UInt128 bits = 0;
  for (std::size_t k = bytes.size(); k-- > 0;) bits = (bits << 8) | bytes[k];
  return static_cast<Int128>(bits);
}

BigInt read_big_int(PyObject* object) {
  const PyRef index = index_of(object);
  // Most values fit a word, which gives the same value without the byte exchange.
  int overflow = 0;
  const long long word = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow == 0) {
    if (word == -1 && PyErr_Occurred()) throw_python_error();
    return BigInt(word);
  }
  const std::size_t bits = _PyLong_NumBits(index.get());
  if (bits == static_cast<std::size_t>(-1)) throw_python_error();
  // One more byte than the magnitude needs leaves room for the two's complement sign bit.
  const std::size_t size = bits / 8 + 1;
  std::array<unsigned char, 128> small{};
  std::vector<unsigned char> large;
  unsigned char* buffer = small.data();
  if (size > small.size()) {
    large.resize(size);
    buffer = large.data();
  }
  copy_signed_le_bytes(index.get(), buffer, size);
  return BigInt::from_le_signed_bytes(std::span<const std::uint8_t>(buffer, size));
}

// Round to nearest binary32; magnitudes that round past the largest float become infinite.
// (A plain cast of such a value would be undefined behaviour.)
float narrow_to_f32(double value) {
  // Halfway between the largest float and 2^128: ties go to the even neighbour, 2^128 = inf.
  // (Not FLT_MAX: with libc++ on macOS, <cmath> can take <float.h>'s include guard before the
  // header defines it, so that <cfloat> later defines nothing.)
  constexpr double overflow_threshold =
      static_cast<double>(std::numeric_limits<float>::max()) + 0x1p103;
  if (value >= overflow_threshold) return INFINITY;
  if (value <= -overflow_threshold) return -INFINITY;
  return static_cast<float>(value);
}

Py_complex read_complex(PyObject* object) {
  const Py_complex value = PyComplex_AsCComplex(object);
  if (value.real == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

Decimal read_decimal(PyObject* object) {
  // Integers that fit 64 bits are taken exactly; anything else is read from its text.
  if (const std::optional<std::int64_t> value = try_read_i64(object)) {
    return Decimal::from_i64(*value);
  }
  discard_ordinary_python_error();
  const PyRef text = steal_or_throw(PyObject_Str(object));
  const DecimalParseResult parsed = Decimal::parse(utf8_or_throw(text.get()));
  if (!parsed.value) raise(PyExc_ValueError, std::string(parsed.error));
  return *parsed.value;
}

PyRef int128_to_py(Int128 value) {
  std::array<unsigned char, 16> bytes{};
  UInt128 bits = static_cast<UInt128>(value);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(bits & 0xff);
    bits >>= 8;
  }
  return steal_or_panic(_PyLong_FromByteArray(bytes.data(), bytes.size(), 1, 1));
}

}  // namespace

double read_double(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

std::uint64_t read_u64(PyObject* object) {
  const PyRef index = index_of(object);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
  return value;
}

DecimalClass load_decimal_class() {
  try {
    const PyRef module_name = steal_or_throw(PyUnicode_FromString("decimal"));
    const PyRef module = steal_or_throw(PyImport_Import(module_name.get()));
    PyRef cls = steal_or_throw(PyObject_GetAttrString(module.get(), "Decimal"));
    if (!PyType_Check(cls.get())) {
      raise(PyExc_TypeError,
            "'" + type_qualname(cls.get()) + "' object cannot be converted to 'PyType'");
    }
    return {std::move(cls), {}};
  } catch (PythonError& error) {
    // Running out of memory (or an interrupt) says nothing about decimal: the import fails.
    if (!error.matches(PyExc_Exception) || error.matches(PyExc_MemoryError)) throw;
    return {PyRef(), error.describe()};
  }
}

template <ElementKind K>
Element<K> extract_element(PyObject* object) {
  if constexpr (K == ElementKind::I8) {
    return read_narrow_int<std::int8_t>(object);
  } else if constexpr (K == ElementKind::I16) {
    return read_narrow_int<std::int16_t>(object);
  } else if constexpr (K == ElementKind::I32) {
    return static_cast<std::int32_t>(read_c_long_32(object));
  } else if constexpr (K == ElementKind::I64) {
    return read_i64(object);
  } else if constexpr (K == ElementKind::I128) {
    return read_i128(object);
  } else if constexpr (K == ElementKind::I) {
    return read_big_int(object);
  } else if constexpr (K == ElementKind::F32) {
    return narrow_to_f32(read_double(object));
  } else if constexpr (K == ElementKind::F64) {
    return read_double(object);
  } else if constexpr (K == ElementKind::C64) {
    const Py_complex value = read_complex(object);
    return Complex32{narrow_to_f32(value.real), narrow_to_f32(value.imag)};
  } else if constexpr (K == ElementKind::C128) {
    const Py_complex value = read_complex(object);
    return Complex64{value.real, value.imag};
  } else {
    static_assert(K == ElementKind::D);
    return read_decimal(object);
  }
}

template <ElementKind K>
std::vector<Element<K>> extract_component_list(PyObject* object) {
  if (PyUnicode_Check(object)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(object)) {
    raise(PyExc_TypeError,
          "'" + type_qualname(object) + "' object cannot be converted to 'Sequence'");
  }
  Py_ssize_t hint = PySequence_Size(object);
  if (hint < 0) {
    discard_ordinary_python_error();
    hint = 0;
  }
  std::vector<Element<K>> components;
  // The length is only a hint: a sequence may lie about it, so a huge claim is not trusted.
  constexpr Py_ssize_t max_trusted_hint = Py_ssize_t{1} << 20;
  components.reserve(static_cast<std::size_t>(std::min(hint, max_trusted_hint)));
  const PyRef iterator = steal_or_throw(PyObject_GetIter(object));
  while (const PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    components.push_back(extract_element<K>(item.get()));
  }
  if (PyErr_Occurred()) throw_python_error();
  return components;
}

template <ElementKind K>
PyRef element_to_py(const Element<K>& value) {
  if constexpr (K == ElementKind::I8 || K == ElementKind::I16 || K == ElementKind::I32) {
    return steal_or_panic(PyLong_FromLong(value));
  } else if constexpr (K == ElementKind::I64) {
    return steal_or_panic(PyLong_FromLongLong(value));
  } else if constexpr (K == ElementKind::I128) {
    return int128_to_py(value);
  } else if constexpr (K == ElementKind::I) {
    // Most values fit a word, which builds the same int without the byte exchange.
    if (const auto word = value.to_i64()) return steal_or_panic(PyLong_FromLongLong(*word));
    // Two's complement words on the stack (heap only past 1,024 bits), read by Python as
    // little-endian bytes.
    std::array<std::uint64_t, 16> stack_words;
    std::vector<std::uint64_t> heap_words;
    std::span<std::uint64_t> words(stack_words);
    const std::size_t count = value.to_le_signed_words(words);
    if (count > words.size()) {
      heap_words.resize(count);
      words = heap_words;
      value.to_le_signed_words(words);
    }
    if constexpr (std::endian::native == std::endian::big) {
      for (std::uint64_t& word : words.first(count)) word = __builtin_bswap64(word);
    }
    return steal_or_panic(_PyLong_FromByteArray(
        reinterpret_cast<const unsigned char*>(words.data()), count * sizeof(std::uint64_t), 1, 1));
  } else if constexpr (K == ElementKind::F32 || K == ElementKind::F64) {
    return steal_or_panic(PyFloat_FromDouble(static_cast<double>(value)));
  } else if constexpr (K == ElementKind::C64 || K == ElementKind::C128) {
    return steal_or_panic(
        PyComplex_FromDoubles(static_cast<double>(value.re), static_cast<double>(value.im)));
  } else {
    static_assert(K == ElementKind::D);
    const DecimalClass& decimal = module_state().decimal;
    if (!decimal.type) fail("failed to load decimal.Decimal: " + decimal.load_failure);
    PyObject* const cls = decimal.type.get();
    // The text is written straight into an ASCII string object.
    std::array<char, Decimal::max_text_length> text;
    const std::size_t length = value.write_text(text);
    const PyRef argument = steal_or_panic(PyUnicode_New(static_cast<Py_ssize_t>(length), 127));
    std::memcpy(PyUnicode_1BYTE_DATA(argument.get()), text.data(), length);
    PyRef result = PyRef::steal(PyObject_CallOneArg(cls, argument.get()));
    if (!result) panic_with_python_error("failed to call decimal.Decimal(value)");
    return result;
  }
}

template <ElementKind K>
PyRef components_to_py_list(const std::vector<Element<K>>& components) {
  PyRef list = steal_or_panic(PyList_New(static_cast<Py_ssize_t>(components.size())));
  for (std::size_t j = 0; j < components.size(); ++j) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j),
                    element_to_py<K>(components[j]).release());
  }
  return list;
}

PyRef xvec_to_py_dict(const XVec& point) {
  PyRef dict = steal_or_panic(PyDict_New());
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const auto& components = point.list<K>();
    if (components.empty()) return;
    const PyRef list = components_to_py_list<K>(components);
    const PyRef& key = module_state().kind_keys[kind_index(K)];
    if (PyDict_SetItem(dict.get(), key.get(), list.get()) < 0) {
      panic_with_python_error("called `Result::unwrap()` on an `Err` value");
    }
  });
  return dict;
}

PyRef DecimalObjects::to_py(const Decimal& value) {
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

std::size_t xvec_to_py_lists(const XVec& point, std::array<PyRef, kind_count>& lists,
                             std::uint32_t& kinds, DecimalObjects& decimals) {
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

// Every kind's conversions are instantiated here, once.
#define SWARMTUNER_INSTANTIATE(K)                                        \
  template Element<K> extract_element<K>(PyObject*);                     \
  template std::vector<Element<K>> extract_component_list<K>(PyObject*); \
  template PyRef element_to_py<K>(const Element<K>&);                    \
  template PyRef components_to_py_list<K>(const std::vector<Element<K>>&);
SWARMTUNER_INSTANTIATE(ElementKind::I8)
SWARMTUNER_INSTANTIATE(ElementKind::I16)
SWARMTUNER_INSTANTIATE(ElementKind::I32)
SWARMTUNER_INSTANTIATE(ElementKind::I64)
SWARMTUNER_INSTANTIATE(ElementKind::I128)
SWARMTUNER_INSTANTIATE(ElementKind::I)
SWARMTUNER_INSTANTIATE(ElementKind::F32)
SWARMTUNER_INSTANTIATE(ElementKind::F64)
SWARMTUNER_INSTANTIATE(ElementKind::C64)
SWARMTUNER_INSTANTIATE(ElementKind::C128)
SWARMTUNER_INSTANTIATE(ElementKind::D)
#undef SWARMTUNER_INSTANTIATE

}  // namespace swarmtuner
