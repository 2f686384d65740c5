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

#include <cstring>

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

bool probe_layout(PyObject* decimal_type) {
  // Nothing is read from an object too small to hold the fields.
  const Py_ssize_t size = reinterpret_cast<PyTypeObject*>(decimal_type)->tp_basicsize;
  if (size < static_cast<Py_ssize_t>(sizeof(PyObject) + sizeof(NativeFields))) return false;
  for (const Probe& probe : PROBES) {
    PyObject* text = PyUnicode_FromString(probe.text);
    if (text == nullptr) return false;
    PyObject* value = PyObject_CallOneArg(decimal_type, text);
    Py_DECREF(text);
    if (value == nullptr) return false;
    const NativeFields& f = fields(value);
    bool ok = f.data == f.inline_words && f.alloc == 4;
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

std::atomic<int> g_layout{-1};  // -1 not probed yet, 0 unusable, 1 usable

}  // namespace

void probe_native_decimal(PyObject* decimal_type) {
  const bool usable = decimal_type != Py_None && probe_layout(decimal_type);
  if (!usable) PyErr_Clear();
  g_layout.store(usable ? 1 : 0, std::memory_order_release);
}

bool read_native_decimal(PyObject* value, Decimal& out) {
  if (g_layout.load(std::memory_order_relaxed) != 1) return false;
  return read_fields(value, out) == 1;
}

}  // namespace vexlor::py
