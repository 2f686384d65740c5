// Reading a decimal.Decimal of the C implementation without printing it.
//
// The C implementation keeps a finite value as sign flags, a decimal exponent and
// a coefficient in words of 19 decimal digits, stored in the object itself for
// short values. Its str() costs an allocation, a formatting pass and a new str
// object; for the values that matter here (at most 28 fractional digits, a
// coefficient below 2^96, the plain non-exponent text form) the same Decimal can
// be taken straight from those fields. The layout is private to the decimal
// module, so it is used only after probing: a set of known values must read back
// exactly, with the coefficient pointer aimed at the object's own storage. When
// any probe disagrees (another interpreter version or build), every value takes
// the text path as before.
//
// Results are made the same way in reverse: an object of the type's own
// allocation gets the fields that reading the result's text would have given.
// That is used only after the probe also found every written probe value equal,
// field for field, in text and in hash, to the one the type builds from text.

#include <cstring>
#include <string>

#include "decimal/wide.hpp"
#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

using wide::u128;

// The fields as the decimal module lays them out after the object header:
// a cached hash, then flags, exponent, digit count, used words, allocated words,
// the word pointer, and the object's own words.
struct NativeFields {
  Py_hash_t hash;
  uint8_t flags;
  Py_ssize_t exp;
  Py_ssize_t digits;
  Py_ssize_t len;
  Py_ssize_t alloc;
  uint64_t* data;
  uint64_t inline_words[4];
};

constexpr uint8_t NATIVE_NEGATIVE = 1;
constexpr uint8_t NATIVE_SPECIAL = 2 | 4 | 8;  // infinity, quiet and signalling NaN
constexpr uint64_t WORD_BASE = 10000000000000000000ULL;  // 10^19
constexpr u128 COEFFICIENT_LIMIT = wide::make_u128(uint64_t{1} << 32, 0);  // 2^96

const NativeFields& fields(PyObject* value) {
  return *reinterpret_cast<const NativeFields*>(reinterpret_cast<const char*>(value) + sizeof(PyObject));
}
NativeFields& mutable_fields(PyObject* value) {
  return *reinterpret_cast<NativeFields*>(reinterpret_cast<char*>(value) + sizeof(PyObject));
}

// The flags of a positive value held in the object's own words, as the type sets
// them; learnt from the probe (every thread that probes learns the same).
std::atomic<uint8_t> g_plain_flags{0};

Py_ssize_t digit_count(uint64_t word) {
  Py_ssize_t count = 1;
  while (count < 20 && word >= POW10_U64[count]) ++count;
  return count;
}

// A new object of the type, as its own allocation would make it. A plain
// (not garbage-collected) static type is set up directly, without clearing
// memory the fields below overwrite.
PyObject* allocate(PyTypeObject* type) {
  if (type->tp_alloc == PyType_GenericAlloc && type->tp_free == PyObject_Free && type->tp_itemsize == 0 &&
      !PyType_IS_GC(type) && !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
    auto* result = static_cast<PyObject*>(PyObject_Malloc(static_cast<size_t>(type->tp_basicsize)));
    if (result == nullptr) return PyErr_NoMemory();
    return PyObject_Init(result, type);
  }
  return type->tp_alloc(type, 0);
}

PyObject* write_fields(PyTypeObject* type, const Decimal& value) {
  PyObject* result = allocate(type);
  if (result == nullptr) return nullptr;
  NativeFields& f = mutable_fields(result);
  f.hash = -1;
  f.flags = static_cast<uint8_t>(g_plain_flags.load(std::memory_order_relaxed) | (value.is_sign_negative() ? NATIVE_NEGATIVE : 0));
  f.exp = -static_cast<Py_ssize_t>(value.scale());
  f.alloc = 4;
  f.data = f.inline_words;
  if (value.hi() == 0 && value.lo() < WORD_BASE) {
    f.inline_words[0] = value.lo();
    f.len = 1;
    f.digits = digit_count(value.lo());
  } else {
    const u128 coefficient = wide::make_u128(value.hi(), value.lo());
    const u128 base = wide::make_u128(0, WORD_BASE);
    const uint64_t high_word = wide::lo64(coefficient / base);
    f.inline_words[0] = wide::lo64(coefficient - wide::mul64(high_word, WORD_BASE));
    f.inline_words[1] = high_word;
    f.len = 2;
    f.digits = 19 + digit_count(high_word);
  }
  return result;
}

// 1 read, 0 the value needs the text path.
int read_fields(PyObject* value, Decimal& out) {
  const NativeFields& f = fields(value);
  if ((f.flags & NATIVE_SPECIAL) != 0) return 0;
  // The plain text form: exponent at most 0 and no more than six zeros after the point.
  if (f.exp > 0 || f.exp < -28 || f.exp + f.digits - 1 < -6) return 0;
  if (f.len < 1 || f.len > 2 || f.digits > 29) return 0;
  u128 coefficient = f.data[0];
  if (f.len == 2) coefficient = coefficient + wide::mul64(f.data[1], WORD_BASE);
  if (!(coefficient < COEFFICIENT_LIMIT)) return 0;
  // As when read from text, a zero keeps its scale but not its sign.
  const bool negative = (f.flags & NATIVE_NEGATIVE) != 0 && coefficient != u128(0);
  out = Decimal::from_parts(wide::lo64(coefficient), static_cast<uint32_t>(wide::hi64(coefficient)),
                            static_cast<uint32_t>(-f.exp), negative);
  return 1;
}

struct Probe {
  const char* text;
  uint64_t lo;
  uint32_t hi;
  uint32_t scale;
  bool negative;
  bool readable;  // false: the reader must decline it
};

// Values chosen so that a misplaced field cannot read back right by accident:
// signs, scales, one and two words, the 2^96 limit, an exponent form, specials.
const Probe PROBES[] = {
    {"12.34", 1234, 0, 2, false, true},
    {"-0.000", 0, 0, 3, false, true},
    {"-0.5", 5, 0, 1, true, true},
    {"0", 0, 0, 0, false, true},
    {"-7", 7, 0, 0, true, true},
    {"79228162514264337593543950335", ~uint64_t{0}, ~uint32_t{0}, 0, false, true},
    {"-7.9228162514264337593543950335", ~uint64_t{0}, ~uint32_t{0}, 28, true, true},
    {"1234567890123456789.01", 0xB14E9F812F366C35ULL, 6, 2, false, true},
    {"0.0000001234", 1234, 0, 10, false, false},
    {"79228162514264337593543950336", 0, 0, 0, false, false},
    {"1E+3", 0, 0, 0, false, false},
    {"NaN", 0, 0, 0, false, false},
    {"-Infinity", 0, 0, 0, false, false},
};

// The C implementation's type itself, not a class made to look like it: built
// directly on object, exactly the size of the fields, no instance dictionary.
// (A class defined in Python, a subclass of the type included, has another base,
// another size or a dictionary.)
bool is_native_type(PyObject* decimal_type) {
  const auto* type = reinterpret_cast<PyTypeObject*>(decimal_type);
  if (type->tp_base != &PyBaseObject_Type || type->tp_itemsize != 0 || type->tp_dictoffset != 0) return false;
  if (type->tp_basicsize != static_cast<Py_ssize_t>(sizeof(PyObject) + sizeof(NativeFields))) return false;
#ifdef Py_TPFLAGS_MANAGED_DICT
  if ((type->tp_flags & Py_TPFLAGS_MANAGED_DICT) != 0) return false;
#endif
  return std::strcmp(type->tp_name, "decimal.Decimal") == 0;
}

bool probe_layout(PyObject* decimal_type) {
  if (!is_native_type(decimal_type)) return false;
  for (const Probe& probe : PROBES) {
    PyObject* text = PyUnicode_FromString(probe.text);
    if (text == nullptr) return false;
    PyObject* value = PyObject_CallOneArg(decimal_type, text);
    Py_DECREF(text);
    if (value == nullptr) return false;
    const NativeFields& f = fields(value);
    bool ok = Py_IS_TYPE(value, reinterpret_cast<PyTypeObject*>(decimal_type)) && f.data == f.inline_words &&
              f.alloc == 4;
    if (ok) {
      Decimal read;
      const int status = read_fields(value, read);
      const Decimal expected = Decimal::from_parts(probe.lo, probe.hi, probe.scale, probe.negative);
      ok = probe.readable ? status == 1 && read.lo() == expected.lo() && read.hi() == expected.hi() &&
                                read.scale() == expected.scale() &&
                                read.is_sign_negative() == expected.is_sign_negative()
                          : status == 0;
    }
    Py_DECREF(value);
    if (!ok) return false;
  }
  return true;
}

// Values written after the probe; each must come out exactly as the type builds
// it from its text (the digits, with a minus sign when `negative`).
struct WriteProbe {
  const char* digits;
  bool negative;
};
const WriteProbe WRITE_PROBES[] = {
    {"0", false},
    {"0", true},
    {"0.00", false},
    {"0.000", true},
    {"12.34", false},
    {"7", true},
    {"100", false},
    {"0.0000001234", false},
    {"1000000000000000000", false},
    {"100000000000000000000", true},
    {"9999999999999999999", false},
    {"10000000000000000000", true},
    {"1234567890123456789.01", false},
    {"79228162514264337593543950335", false},
    {"7.9228162514264337593543950335", true},
    {"0.0000000000000000000000000001", false},
};

bool same_fields(PyObject* written, PyObject* expected) {
  const NativeFields& a = fields(written);
  const NativeFields& b = fields(expected);
  if (a.flags != b.flags || a.exp != b.exp || a.digits != b.digits || a.len != b.len || a.alloc != b.alloc ||
      a.data != a.inline_words || b.data != b.inline_words || a.len < 1 || a.len > 2)
    return false;
  return std::memcmp(a.inline_words, b.inline_words, sizeof(uint64_t) * static_cast<size_t>(a.len)) == 0;
}

// True when the written value equals the type's own in fields, comparison, text and hash.
bool written_matches(PyObject* decimal_type, const WriteProbe& probe) {
  auto parsed = Decimal::from_str(probe.digits);
  if (!parsed.ok()) return false;
  const Decimal value = probe.negative ? -*parsed : *parsed;
  const std::string text = std::string(probe.negative ? "-" : "") + probe.digits;
  PyObject* expected = PyObject_CallFunction(decimal_type, "s", text.c_str());
  PyObject* written = write_fields(reinterpret_cast<PyTypeObject*>(decimal_type), value);
  PyObject* expected_text = expected != nullptr ? PyObject_Str(expected) : nullptr;
  PyObject* written_text = written != nullptr ? PyObject_Str(written) : nullptr;
  const bool ok = expected_text != nullptr && written_text != nullptr && Py_IS_TYPE(expected, Py_TYPE(written)) &&
                  same_fields(written, expected) &&
                  PyUnicode_Compare(written_text, expected_text) == 0 &&
                  PyObject_RichCompareBool(written, expected, Py_EQ) == 1 &&
                  PyObject_Hash(written) == PyObject_Hash(expected) && !PyErr_Occurred();
  Py_XDECREF(expected);
  Py_XDECREF(written);
  Py_XDECREF(expected_text);
  Py_XDECREF(written_text);
  return ok;
}

bool probe_writing(PyObject* decimal_type) {
  // The flags the type gives a positive value in its own words, and its negative twin.
  PyObject* one = PyObject_CallFunction(decimal_type, "s", "1");
  PyObject* minus_one = PyObject_CallFunction(decimal_type, "s", "-1");
  auto* type = reinterpret_cast<PyTypeObject*>(decimal_type);
  bool ok = one != nullptr && minus_one != nullptr && Py_IS_TYPE(one, type) && Py_IS_TYPE(minus_one, type) &&
            fields(minus_one).flags == (fields(one).flags | NATIVE_NEGATIVE) &&
            (fields(one).flags & (NATIVE_NEGATIVE | NATIVE_SPECIAL)) == 0;
  if (ok) g_plain_flags.store(fields(one).flags, std::memory_order_relaxed);
  Py_XDECREF(one);
  Py_XDECREF(minus_one);
  for (const WriteProbe& probe : WRITE_PROBES) {
    if (!ok) break;
    ok = written_matches(decimal_type, probe);
  }
  return ok;
}

// -1 not probed yet, 0 unusable, 1 values can be read, 2 read and written.
std::atomic<int> g_layout{-1};

}  // namespace

void probe_native_decimal(PyObject* decimal_type) {
  int layout = 0;
  if (decimal_type != Py_None && probe_layout(decimal_type)) layout = probe_writing(decimal_type) ? 2 : 1;
  if (PyErr_Occurred()) PyErr_Clear();
  g_layout.store(layout, std::memory_order_release);
}

bool read_native_decimal(PyObject* value, Decimal& out) {
  if (g_layout.load(std::memory_order_acquire) < 1) return false;
  return read_fields(value, out) == 1;
}

bool native_decimal_writable() { return g_layout.load(std::memory_order_acquire) == 2; }

PyObject* write_native_decimal(PyTypeObject* decimal_type, const Decimal& value) {
  return write_fields(decimal_type, value);
}

}  // namespace vexlor::py
