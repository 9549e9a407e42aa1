// Conversions between Python objects and element values of each kind, and bound lists.
#include "python_layer/element_conversion.hpp"

#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "python_layer/boundary.hpp"
#include "python_layer/cpython_compat.hpp"

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

// Little-endian two's complement bytes of an int; OverflowError when it needs more.
void copy_signed_le_bytes(PyObject* integer, unsigned char* bytes, std::size_t size) {
  if (cpython::long_as_signed_le_bytes(integer, bytes, size) < 0) throw_python_error();
}

// An int from little-endian two's complement bytes.
PyObject* new_int_from_signed_le_bytes(const unsigned char* bytes, std::size_t size) {
  return cpython::long_from_signed_le_bytes(bytes, size);
}

// The number of bytes of the two's complement form of an int that does not fit a word, sign
// bit included.
std::size_t signed_byte_size(PyObject* integer) {
  const Py_ssize_t size = cpython::long_signed_byte_size(integer);
  if (size < 0) throw_python_error();
  return static_cast<std::size_t>(size);
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
  const std::size_t size = signed_byte_size(index.get());
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

Py_complex read_complex(PyObject* object) {
  const Py_complex value = PyComplex_AsCComplex(object);
  if (value.real == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

// A bound's digits that no decimal keeps round towards the inside of its range (side), any
// other value's to the nearest.
Decimal read_decimal(PyObject* object, std::optional<BoundSide> side = std::nullopt) {
  // Integers that fit 64 bits are taken exactly; anything else is read from its text.
  if (const std::optional<std::int64_t> value = try_read_i64(object)) {
    return Decimal::from_i64(*value);
  }
  discard_ordinary_python_error();
  const PyRef text = steal_or_throw(PyObject_Str(object));
  const std::string utf8 = utf8_or_throw(text.get());
  const Checked<Decimal> parsed = Decimal::parse(utf8);
  if (!parsed) raise(PyExc_ValueError, std::string(failure_text_of(parsed.status()).text));
  return side ? round_bound_inwards(utf8, *parsed, *side) : *parsed;
}

// An int from a 64-bit value. Where long has 64 bits, PyLong_FromLong makes it: unlike
// PyLong_FromLongLong (before 3.12), it makes ints of one digit without counting digits.
PyObject* new_int64(std::int64_t value) {
  if constexpr (sizeof(long) == sizeof(std::int64_t)) {
    return PyLong_FromLong(static_cast<long>(value));
  } else {
    return PyLong_FromLongLong(value);
  }
}

PyObject* new_int128(Int128 value) {
  // Most values of a search fit 64 bits, which the interpreter makes directly.
  if (const auto word = static_cast<std::int64_t>(value); word == value) return new_int64(word);
  std::array<unsigned char, 16> bytes{};
  UInt128 bits = static_cast<UInt128>(value);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(bits & 0xff);
    bits >>= 8;
  }
  return new_int_from_signed_le_bytes(bytes.data(), bytes.size());
}

// A magnitude's limbs as Python's digits of DigitBits bits (at most 32), least significant
// first: `count` digits, as many as the magnitude needs. The limbs stream through a word
// holding the bits not yet written; a digit that needs more takes them from the next limb.
template <class Digit, unsigned DigitBits>
void write_digits(std::span<const BigInt::Limb> limbs, Digit* digits, std::size_t count) noexcept {
  using Limb = BigInt::Limb;
  constexpr Limb mask = (Limb{1} << DigitBits) - 1;
  Limb held = limbs[0];
  unsigned held_bits = 64;
  std::size_t next = 1;
  for (std::size_t k = 0; k < count; ++k) {
    if (held_bits >= DigitBits) {
      digits[k] = static_cast<Digit>(held & mask);
      held >>= DigitBits;
      held_bits -= DigitBits;
    } else {
      const Limb limb = next < limbs.size() ? limbs[next++] : 0;
      digits[k] = static_cast<Digit>((held | (limb << held_bits)) & mask);
      held = limb >> (DigitBits - held_bits);
      held_bits += 64 - DigitBits;
    }
  }
}

// Digit K of a magnitude held in `limbs` (`size` of them), where the magnitude has more than
// K digits: its limb and shifts are constants, so a whole value's digits unroll into a few
// shifts per digit. A digit below the last lies wholly below the magnitude's top bit, so the
// limb above is only checked for the last one.
template <class Digit, unsigned DigitBits, std::size_t K, bool Last>
Digit digit_at(const BigInt::Limb* limbs, std::size_t size) noexcept {
  using Limb = BigInt::Limb;
  constexpr Limb mask = (Limb{1} << DigitBits) - 1;
  constexpr std::size_t low = K * DigitBits;
  constexpr std::size_t limb = low / 64;
  constexpr unsigned shift = low % 64;
  Limb bits = limbs[limb] >> shift;
  if constexpr (shift + DigitBits > 64) {
    if (!Last || limb + 1 < size) bits |= limbs[limb + 1] << (64 - shift);
  }
  return static_cast<Digit>(bits & mask);
}

template <class Digit, unsigned DigitBits, std::size_t... K>
void write_digit_sequence(std::span<const BigInt::Limb> limbs, Digit* digits,
                          std::index_sequence<K...>) noexcept {
  constexpr std::size_t last = sizeof...(K) - 1;
  ((digits[K] = digit_at<Digit, DigitBits, K, K == last>(limbs.data(), limbs.size())), ...);
}

// Writes the digits with the unrolled sequence of N + 1 digits, for the N that is count - 1;
// false when count is past them all.
template <class Digit, unsigned DigitBits, std::size_t... N>
bool write_digits_unrolled(std::span<const BigInt::Limb> limbs, Digit* digits, std::size_t count,
                           std::index_sequence<N...>) noexcept {
  const auto write = [&]<std::size_t M>(std::integral_constant<std::size_t, M>) {
    write_digit_sequence<Digit, DigitBits>(limbs, digits, std::make_index_sequence<M>{});
    return true;
  };
  return ((count == N + 1 && write(std::integral_constant<std::size_t, N + 1>{})) || ...);
}

// write_digits for the digit counts of magnitudes of up to four limbs, each written by its own
// unrolled sequence; larger ones take the loop.
template <class Digit, unsigned DigitBits>
void write_few_digits(std::span<const BigInt::Limb> limbs, Digit* digits,
                      std::size_t count) noexcept {
  constexpr std::size_t unrolled = (4 * 64 + DigitBits - 1) / DigitBits;
  if (!write_digits_unrolled<Digit, DigitBits>(limbs, digits, count,
                                               std::make_index_sequence<unrolled>{})) {
    write_digits<Digit, DigitBits>(limbs, digits, count);
  }
}

std::size_t digit_count(std::span<const BigInt::Limb> limbs, unsigned digit_bits) noexcept {
  const std::size_t bits = 64 * limbs.size() - leading_zeros_of_nonzero(limbs.back());
  return (bits + digit_bits - 1) / digit_bits;
}

// Python's own digits, written straight from the limbs: no byte form in between, and no pass
// over the bytes on Python's side. Null without an exception when the interpreter's ints
// cannot be written so, or their digits are not of a layout this knows (30 bits in 32 or 15
// bits in 16, the two Python builds with); null with the error set when Python cannot make the
// int.
PyObject* int_from_limbs(std::span<const BigInt::Limb> limbs, bool negative) {
  const std::optional<cpython::DigitLayout> layout = cpython::writable_digit_layout();
  if (!layout) return nullptr;
  if (layout->digit_size == 4 && layout->bits_per_digit == 30) {
    const std::size_t count = digit_count(limbs, 30);
    return cpython::long_from_digits(negative, count, [&](void* digits) noexcept {
      write_few_digits<std::uint32_t, 30>(limbs, static_cast<std::uint32_t*>(digits), count);
    });
  }
  if (layout->digit_size == 2 && layout->bits_per_digit == 15) {
    const std::size_t count = digit_count(limbs, 15);
    return cpython::long_from_digits(negative, count, [&](void* digits) noexcept {
      write_few_digits<std::uint16_t, 15>(limbs, static_cast<std::uint16_t*>(digits), count);
    });
  }
  return nullptr;
}

}  // namespace

bool rewrite_big_int_object(PyObject* object, const BigInt& value) noexcept {
  if constexpr (!cpython::ints_rewritable) return false;
  const std::optional<cpython::DigitLayout> layout = cpython::writable_digit_layout();
  if (!layout) return false;
  BigInt::Limb scratch;
  const std::span<const BigInt::Limb> limbs = value.magnitude_limbs(scratch);
  const bool negative = value.sign() == BigInt::Sign::Minus;
  if (layout->digit_size == 4 && layout->bits_per_digit == 30) {
    const std::size_t count = digit_count(limbs, 30);
    return cpython::rewrite_long_digits(object, negative, count, [&](void* digits) noexcept {
      write_few_digits<std::uint32_t, 30>(limbs, static_cast<std::uint32_t*>(digits), count);
    });
  }
  if (layout->digit_size == 2 && layout->bits_per_digit == 15) {
    const std::size_t count = digit_count(limbs, 15);
    return cpython::rewrite_long_digits(object, negative, count, [&](void* digits) noexcept {
      write_few_digits<std::uint16_t, 15>(limbs, static_cast<std::uint16_t*>(digits), count);
    });
  }
  return false;
}

namespace {

// An int of a value beyond a word; null, with the error set, when Python cannot make it.
PyObject* new_big_int(const BigInt& value) {
  BigInt::Limb scratch;
  const std::span<const BigInt::Limb> limbs = value.magnitude_limbs(scratch);
  if (PyObject* const made = int_from_limbs(limbs, value.sign() == BigInt::Sign::Minus)) {
    return made;
  }
  if (PyErr_Occurred()) return nullptr;
  // Two's complement words on the stack (heap only past 1,024 bits), read by Python as
  // little-endian bytes. Only the bytes up to the one with the sign bit are handed over, since
  // Python reads them one at a time.
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
  const std::size_t bits = 64 * limbs.size() - leading_zeros_of_nonzero(limbs.back());
  return new_int_from_signed_le_bytes(reinterpret_cast<const unsigned char*>(words.data()),
                                      bits / 8 + 1);
}

// ---- One codec per element type ----
//
// A codec holds the rules of the kinds of one element type, in both directions:
//   read(object)            the element a Python object gives, or PythonError;
//   make(value)             for kinds whose objects the C API's constructors make: a new
//                           reference, or null with the Python error set;
//   to_py(value)            for the other kinds (decimals, made by calling decimal.Decimal): a
//                           new reference; failures are internal failures;
//   read_bound(object, side) for kinds whose bounds are read by a rule of their own.

template <class T>
struct Codec;

// i8, i16 and i32 go through a 32-bit C long stage (read_c_long_32); the narrower two then
// check their own range with a message of their own.
template <FixedWidthInt T>
requires(sizeof(T) <= sizeof(std::int32_t)) struct Codec<T> {
  static T read(PyObject* object) {
    const long value = read_c_long_32(object);
    if constexpr (sizeof(T) < sizeof(std::int32_t)) {
      if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
      }
    }
    return static_cast<T>(value);
  }
  static PyObject* make(T value) { return PyLong_FromLong(value); }
};

template <>
struct Codec<std::int64_t> {
  static std::int64_t read(PyObject* object) { return read_i64(object); }
  static PyObject* make(std::int64_t value) { return new_int64(value); }
};

template <>
struct Codec<Int128> {
  static Int128 read(PyObject* object) { return read_i128(object); }
  static PyObject* make(Int128 value) { return new_int128(value); }
};

template <>
struct Codec<BigInt> {
  static BigInt read(PyObject* object) { return read_big_int(object); }
  static PyObject* make(const BigInt& value) {
    // Most values fit a word, which builds the same int without the byte exchange.
    if (const auto word = value.to_i64()) return new_int64(*word);
    return new_big_int(value);
  }
};

// f32 is the f64 rule's double rounded to the nearest float.
template <std::floating_point F>
struct Codec<F> {
  static F read(PyObject* object) {
    if constexpr (std::same_as<F, float>) {
      return narrow_to_f32(read_double(object));
    } else {
      return read_double(object);
    }
  }
  static PyObject* make(F value) { return PyFloat_FromDouble(static_cast<double>(value)); }
};

// c64 is the c128 rule's pair rounded part by part to the nearest floats.
template <class F>
struct Codec<BasicComplex<F>> {
  static BasicComplex<F> read(PyObject* object) {
    const Py_complex value = read_complex(object);
    if constexpr (std::same_as<F, float>) {
      return {narrow_to_f32(value.real), narrow_to_f32(value.imag)};
    } else {
      return {value.real, value.imag};
    }
  }
  static PyObject* make(BasicComplex<F> value) {
    return PyComplex_FromDoubles(static_cast<double>(value.re), static_cast<double>(value.im));
  }
};

template <>
struct Codec<Decimal> {
  static Decimal read(PyObject* object) { return read_decimal(object); }
  static Decimal read_bound(PyObject* object, BoundSide side) { return read_decimal(object, side); }
  static PyRef to_py(const Decimal& value) {
    DecimalTexts texts;
    return decimal_to_py(value, texts);
  }
};

template <ElementKind K>
using KindCodec = Codec<Element<K>>;

template <class T, class Read>
std::vector<T> extract_list(PyObject* object, Read&& read) {
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
  std::vector<T> components;
  // The whole length is held before any item is read, as list() holds it: a length that
  // cannot be held is a MemoryError at once, not after the memory has filled up item by item.
  if (static_cast<std::size_t>(hint) > components.max_size()) throw std::bad_alloc();
  components.reserve(static_cast<std::size_t>(hint));
  const PyRef iterator = steal_or_throw(PyObject_GetIter(object));
  // A sequence whose items come from C code (a range, say) runs no bytecode, so nothing else
  // would run the signal handlers while it is read: Ctrl-C is heard every so many items.
  constexpr unsigned signal_check_interval = 4096;
  unsigned until_signal_check = signal_check_interval;
  while (const PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    components.push_back(read(item.get()));
    if (--until_signal_check == 0) [[unlikely]] {
      if (PyErr_CheckSignals() < 0) throw_python_error();
      until_signal_check = signal_check_interval;
    }
  }
  if (PyErr_Occurred()) throw_python_error();
  return components;
}

}  // namespace

template <ElementKind K>
Element<K> extract_element(PyObject* object) {
  return KindCodec<K>::read(object);
}

template <ElementKind K>
std::vector<Element<K>> extract_bound_list(PyObject* object, BoundSide side) {
  if constexpr (requires { KindCodec<K>::read_bound(object, side); }) {
    return extract_list<Element<K>>(
        object, [side](PyObject* item) { return KindCodec<K>::read_bound(item, side); });
  } else {
    return extract_list<Element<K>>(object, extract_element<K>);
  }
}

template <ElementKind K>
PyObject* new_element_object(const Element<K>& value) {
  return KindCodec<K>::make(value);
}

template <ElementKind K>
PyRef element_to_py(const Element<K>& value) {
  if constexpr (MadeByCApi<K>) {
    return steal_or_panic(new_element_object<K>(value));
  } else {
    return KindCodec<K>::to_py(value);
  }
}

// Every kind's conversions are instantiated here, once. new_element_object of decimals is a
// deleted specialization, on which an explicit instantiation has no effect (clang says so).
#define SWARMTUNER_INSTANTIATE(kind, name, type)                                          \
  template Element<ElementKind::kind> extract_element<ElementKind::kind>(PyObject*);      \
  template std::vector<Element<ElementKind::kind>> extract_bound_list<ElementKind::kind>( \
      PyObject*, BoundSide);                                                              \
  template PyRef element_to_py<ElementKind::kind>(const Element<ElementKind::kind>&);     \
  template PyObject* new_element_object<ElementKind::kind>(const Element<ElementKind::kind>&);
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winstantiation-after-specialization"
#endif
SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_INSTANTIATE)
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#undef SWARMTUNER_INSTANTIATE

PyObject* DecimalTexts::text_of(const Decimal& value) {
  std::array<char, Decimal::max_text_length> text;
  const std::size_t length = value.write_text(text);
  PyRef& kept = by_length_[length];
  // The text is written straight into an ASCII str: the one kept for this length where nothing
  // else holds it (decimal.Decimal only reads it), a new one otherwise.
  if (!kept || !cpython::is_rewritable_str(kept.get())) {
    kept = steal_or_panic(PyUnicode_New(static_cast<Py_ssize_t>(length), 127));
  }
  std::memcpy(PyUnicode_1BYTE_DATA(kept.get()), text.data(), length);
  return kept.get();
}

PyRef decimal_to_py(const Decimal& value, DecimalTexts& texts) {
  const DecimalClass& decimal = slice<DecimalClass>();
  if (!decimal.type) fail("failed to load decimal.Decimal: " + decimal.load_failure);
  PyRef result = PyRef::steal(PyObject_CallOneArg(decimal.type.get(), texts.text_of(value)));
  if (!result) panic_with_python_error("failed to call decimal.Decimal(value)");
  return result;
}

double read_double(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw_python_error();
  return value;
}

std::uint64_t read_u64(PyObject* object) {
  const PyRef index = steal_or_throw(PyNumber_Index(object));
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

}  // namespace swarmtuner
