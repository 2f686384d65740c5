// Reading column values as Decimal.

#include "columnar/read.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "columnar/float_decimal.hpp"
#include "decimal/wide.hpp"

namespace vexlor::columnar {
namespace {

using wide::u128;

template <class Float>
Slot from_float(Float value, Decimal& out) {
  if (shortest_decimal(value, out)) [[likely]] return Slot::Value;
  char text[32];
  if (decimal_from_text({text, float_repr(value, text)}, out)) return Slot::Value;
  if (auto d = Decimal::from_f64(value)) {
    out = *d;
    return Slot::Value;
  }
  return Slot::Invalid;
}

std::string digits_of(u128 v) {
  char buf[48];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + wide::lo64(v % 10));
    v = v / 10;
  } while (v != 0);
  return std::string(p, buf + sizeof buf);
}

// The text a decimal number with this coefficient and exponent -scale prints as
// (plain notation unless the exponent is positive or the value very small).
std::string decimal_text(u128 magnitude, bool negative, int64_t scale) {
  const std::string digits = digits_of(magnitude);
  const int64_t n = static_cast<int64_t>(digits.size());
  const int64_t left = n - scale;
  const int64_t dot = (scale >= 0 && left > -6) ? left : 1;
  std::string text = negative ? "-" : "";
  if (dot <= 0) {
    text += "0." + std::string(static_cast<size_t>(-dot), '0') + digits;
  } else if (dot >= n) {
    text += digits + std::string(static_cast<size_t>(dot - n), '0');
  } else {
    text += digits.substr(0, static_cast<size_t>(dot)) + "." + digits.substr(static_cast<size_t>(dot));
  }
  if (left != dot) {
    const int64_t e = left - dot;
    text += (e < 0 ? "E-" : "E+") + std::to_string(e < 0 ? -e : e);
  }
  return text;
}

Slot from_decimal(const unsigned char* p, uint8_t bytes, int32_t scale, Decimal& out) {
  uint64_t lo;
  int64_t hi;
  if (bytes == 16) {
    std::memcpy(&lo, p, 8);
    std::memcpy(&hi, p + 8, 8);
  } else if (bytes == 8) {
    std::memcpy(&hi, p, 8);
    lo = static_cast<uint64_t>(hi);
    hi >>= 63;
  } else {
    int32_t v;
    std::memcpy(&v, p, 4);
    lo = static_cast<uint64_t>(int64_t{v});
    hi = v < 0 ? -1 : 0;
  }
  const bool negative = hi < 0;
  u128 magnitude = wide::make_u128(static_cast<uint64_t>(hi), lo);
  if (negative) magnitude = ~magnitude + 1;
  const uint64_t mhi = wide::hi64(magnitude);
  if (scale >= 0 && scale <= static_cast<int32_t>(MAX_SCALE) && (mhi >> 32) == 0) [[likely]] {
    out = Decimal::from_parts(wide::lo64(magnitude), static_cast<uint32_t>(mhi), static_cast<uint32_t>(scale), negative);
    return Slot::Value;
  }
  const std::string text = decimal_text(magnitude, negative, scale);
  if (decimal_from_text(text, out)) return Slot::Value;
  if (auto d = Decimal::from_f64(std::strtod(text.c_str(), nullptr))) {
    out = *d;
    return Slot::Value;
  }
  return Slot::Invalid;
}

std::string_view string_at(const ArrayView& v, int64_t i) {
  if (v.type == ValueType::Utf8) {
    const auto* o = static_cast<const int32_t*>(v.values);
    return {v.data + o[i], static_cast<size_t>(o[i + 1] - o[i])};
  }
  if (v.type == ValueType::LargeUtf8) {
    const auto* o = static_cast<const int64_t*>(v.values);
    return {v.data + o[i], static_cast<size_t>(o[i + 1] - o[i])};
  }
  const unsigned char* view = static_cast<const unsigned char*>(v.values) + 16 * i;
  int32_t len, buffer, start;
  std::memcpy(&len, view, 4);
  if (len <= 12) return {reinterpret_cast<const char*>(view + 4), static_cast<size_t>(len)};
  std::memcpy(&buffer, view + 8, 4);
  std::memcpy(&start, view + 12, 4);
  return {v.variadic[buffer] + start, static_cast<size_t>(len)};
}

// The value at physical position `i` (offset included) of a view without a dictionary.
Slot read_at(const ArrayView& v, int64_t i, Decimal& out) {
  switch (v.type) {
    case ValueType::Null: return Slot::Null;
    case ValueType::Bool:
      out = Decimal::from_parts((static_cast<const uint8_t*>(v.values)[i >> 3] >> (i & 7)) & 1, 0, 0, false);
      return Slot::Value;
    case ValueType::Int8: out = Decimal::new_(static_cast<const int8_t*>(v.values)[i], 0); return Slot::Value;
    case ValueType::Int16: out = Decimal::new_(static_cast<const int16_t*>(v.values)[i], 0); return Slot::Value;
    case ValueType::Int32: out = Decimal::new_(static_cast<const int32_t*>(v.values)[i], 0); return Slot::Value;
    case ValueType::Int64: out = Decimal::new_(static_cast<const int64_t*>(v.values)[i], 0); return Slot::Value;
    case ValueType::UInt8:
      out = Decimal::from_parts(static_cast<const uint8_t*>(v.values)[i], 0, 0, false);
      return Slot::Value;
    case ValueType::UInt16:
      out = Decimal::from_parts(static_cast<const uint16_t*>(v.values)[i], 0, 0, false);
      return Slot::Value;
    case ValueType::UInt32:
      out = Decimal::from_parts(static_cast<const uint32_t*>(v.values)[i], 0, 0, false);
      return Slot::Value;
    case ValueType::UInt64:
      out = Decimal::from_parts(static_cast<const uint64_t*>(v.values)[i], 0, 0, false);
      return Slot::Value;
    case ValueType::Float32: return from_float(static_cast<const float*>(v.values)[i], out);
    case ValueType::Float64: return from_float(static_cast<const double*>(v.values)[i], out);
    case ValueType::Decimal:
      return from_decimal(static_cast<const unsigned char*>(v.values) + size_t{v.decimal_bytes} * i, v.decimal_bytes,
                          v.scale, out);
    case ValueType::Utf8:
    case ValueType::LargeUtf8:
    case ValueType::Utf8View: return decimal_from_text(string_at(v, i), out) ? Slot::Value : Slot::Invalid;
    case ValueType::Prepared: {
      const uint8_t state = v.prepared->state[i];
      if (state == 0) out = v.prepared->values[i];
      return static_cast<Slot>(state);
    }
  }
  return Slot::Null;
}

// Row `row` of a view, through its dictionary if it has one: the view and the
// physical position that hold the value, or nullptr for a null.
const ArrayView* locate(const ArrayView& v, int64_t row, int64_t& at) {
  if (v.is_null(row)) return nullptr;
  at = v.offset + row;
  if (!v.dictionary) return &v;
  const ArrayView& d = *v.dictionary;
  const int64_t i = index_at(v.index, v.values, at);
  if (d.is_null(i)) return nullptr;
  at = d.offset + i;
  return &d;
}

template <class Read>
void read_plain(const ArrayView& v, int64_t row, int64_t count, Decimal* out, Slot* slots, Read read) {
  if (v.validity == nullptr) {
    for (int64_t k = 0; k < count; ++k) slots[k] = read(v.offset + row + k, out[k]);
    return;
  }
  for (int64_t k = 0; k < count; ++k) {
    slots[k] = v.is_null(row + k) ? Slot::Null : read(v.offset + row + k, out[k]);
  }
}

void read_view(const ArrayView& v, int64_t row, int64_t count, Decimal* out, Slot* slots) {
  if (!v.dictionary && v.type == ValueType::Decimal && v.decimal_bytes == 16) {
    const auto* base = static_cast<const unsigned char*>(v.values);
    read_plain(v, row, count, out, slots,
               [&](int64_t i, Decimal& d) { return from_decimal(base + 16 * i, 16, v.scale, d); });
    return;
  }
  if (!v.dictionary && v.type == ValueType::Int64) {
    const auto* base = static_cast<const int64_t*>(v.values);
    read_plain(v, row, count, out, slots, [&](int64_t i, Decimal& d) {
      d = Decimal::new_(base[i], 0);
      return Slot::Value;
    });
    return;
  }
  if (!v.dictionary && v.type == ValueType::Utf8) {
    const auto* offsets = static_cast<const int32_t*>(v.values);
    read_plain(v, row, count, out, slots, [&](int64_t i, Decimal& d) {
      const std::string_view text(v.data + offsets[i], static_cast<size_t>(offsets[i + 1] - offsets[i]));
      return decimal_from_text(text, d) ? Slot::Value : Slot::Invalid;
    });
    return;
  }
  if (!v.dictionary && v.type == ValueType::Float64) {
    const auto* base = static_cast<const double*>(v.values);
    read_plain(v, row, count, out, slots, [&](int64_t i, Decimal& d) { return from_float(base[i], d); });
    return;
  }
  for (int64_t k = 0; k < count; ++k) {
    int64_t at = 0;
    const ArrayView* holder = locate(v, row + k, at);
    slots[k] = holder == nullptr ? Slot::Null : read_at(*holder, at, out[k]);
  }
}

}  // namespace

namespace {

template <class Float>
size_t repr_of(Float value, char* out) {
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);
    return 3;
  }
  if (std::isinf(value)) {
    const char* text = value < 0 ? "-inf" : "inf";
    std::memcpy(out, text, std::strlen(text));
    return std::strlen(text);
  }
  char sci[40];
  const auto r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  // sci: [-]d[.ddd]e(+|-)xx
  std::string_view s(sci, static_cast<size_t>(r.ptr - sci));
  size_t n = 0;
  if (s[0] == '-') {
    out[n++] = '-';
    s.remove_prefix(1);
  }
  const size_t e_at = s.find('e');
  std::string digits(s.substr(0, e_at));
  if (digits.size() > 1) digits.erase(1, 1);  // the point
  int exponent = 0;
  std::from_chars(s.data() + e_at + (s[e_at + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  const int count = static_cast<int>(digits.size());
  auto put = [&](std::string_view t) {
    std::memcpy(out + n, t.data(), t.size());
    n += t.size();
  };
  if (exponent >= -4 && exponent < 16) {
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
      put("0.");
      put(std::string(static_cast<size_t>(-point), '0'));
      put(digits);
    } else if (point >= count) {
      put(digits);
      put(std::string(static_cast<size_t>(point - count), '0'));
      put(".0");
    } else {
      put(std::string_view(digits).substr(0, static_cast<size_t>(point)));
      put(".");
      put(std::string_view(digits).substr(static_cast<size_t>(point)));
    }
    return n;
  }
  put(std::string_view(digits).substr(0, 1));
  if (count > 1) {
    put(".");
    put(std::string_view(digits).substr(1));
  }
  char e[8];
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const int len = std::snprintf(e, sizeof e, "e%c%02d", exponent < 0 ? '-' : '+', magnitude);
  put(std::string_view(e, static_cast<size_t>(len)));
  return n;
}

}  // namespace

size_t float_repr(double value, char* out) { return repr_of(value, out); }
size_t float_repr(float value, char* out) { return repr_of(value, out); }

void read_rows(const Column& column, int64_t row, int64_t count, Decimal* out, Slot* slots) {
  column.for_each_part(row, count, [&](const ArrayView& v, int64_t at, int64_t take, int64_t done) {
    read_view(v, at, take, out + done, slots + done);
  });
}

RowError conversion_error(const Column& column, int64_t row) {
  const size_t c = column.chunk_of(row);
  int64_t at = 0;
  const ArrayView* v = locate(column.chunks[c], row - column.starts[c], at);
  RowError error;
  error.kind = RowError::Kind::Value;
  if (v == nullptr) return error;
  if (v->type == ValueType::Prepared) {
    const auto& errors = v->prepared->errors;
    const auto it = std::lower_bound(errors.begin(), errors.end(), at,
                                     [](const auto& e, int64_t r) { return e.first < r; });
    if (it != errors.end() && it->first == at) return it->second;
    return error;
  }
  if (v->type == ValueType::Utf8 || v->type == ValueType::LargeUtf8 || v->type == ValueType::Utf8View) {
    const auto parsed = Decimal::from_str(string_at(*v, at));
    error.message = "Invalid numeric string for key '" + column.key + "': " +
                    (parsed.ok() ? std::string() : parsed.error().to_string());
    return error;
  }
  error.message = "Invalid float value for key '" + column.key + "': not finite";
  return error;
}

bool decimal_from_text(std::string_view text, Decimal& out) {
  if (auto d = Decimal::from_str(text); d.ok()) {
    out = *d;
    return true;
  }
  if (auto d = Decimal::from_scientific(text); d.ok()) {
    out = *d;
    return true;
  }
  return false;
}

}  // namespace vexlor::columnar
