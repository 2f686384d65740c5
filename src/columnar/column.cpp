// Format strings and the validation of arrays.

#include "columnar/column.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace vexlor::columnar {
namespace {

std::optional<ValueType> plain_type(std::string_view f) {
  if (f.size() == 1) {
    switch (f[0]) {
      case 'n': return ValueType::Null;
      case 'b': return ValueType::Bool;
      case 'c': return ValueType::Int8;
      case 's': return ValueType::Int16;
      case 'i': return ValueType::Int32;
      case 'l': return ValueType::Int64;
      case 'C': return ValueType::UInt8;
      case 'S': return ValueType::UInt16;
      case 'I': return ValueType::UInt32;
      case 'L': return ValueType::UInt64;
      case 'f': return ValueType::Float32;
      case 'g': return ValueType::Float64;
      case 'u': return ValueType::Utf8;
      case 'U': return ValueType::LargeUtf8;
      default: return std::nullopt;
    }
  }
  if (f == "vu") return ValueType::Utf8View;
  return std::nullopt;
}

bool is_integer(ValueType t) { return t >= ValueType::Int8 && t <= ValueType::UInt64; }

bool read_int(std::string_view& s, int32_t& out) {
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, out);
  if (ec != std::errc() || p == s.data()) return false;
  s.remove_prefix(static_cast<size_t>(p - s.data()));
  return true;
}

// "d:P,S" or "d:P,S,N".
bool parse_decimal(std::string_view f, ColumnType& out) {
  if (f.substr(0, 2) != "d:") return false;
  f.remove_prefix(2);
  int32_t precision = 0, scale = 0, bits = 128;
  if (!read_int(f, precision) || f.empty() || f[0] != ',') return false;
  f.remove_prefix(1);
  if (!read_int(f, scale)) return false;
  if (!f.empty()) {
    if (f[0] != ',') return false;
    f.remove_prefix(1);
    if (!read_int(f, bits) || !f.empty()) return false;
  }
  if (bits != 32 && bits != 64 && bits != 128) return false;
  if (precision < 1 || precision > (bits == 32 ? 9 : bits == 64 ? 18 : 38)) return false;
  out.type = ValueType::Decimal;
  out.decimal_bytes = static_cast<uint8_t>(bits / 8);
  out.scale = scale;
  return true;
}

Expected<ColumnType, std::string> parse_values(std::string_view f) {
  ColumnType t;
  if (auto plain = plain_type(f)) {
    t.type = *plain;
    return t;
  }
  if (parse_decimal(f, t)) return t;
  return unexpected(type_name(f));
}

}  // namespace

int64_t index_at(ValueType type, const void* values, int64_t i) {
  switch (type) {
    case ValueType::Int8: return static_cast<const int8_t*>(values)[i];
    case ValueType::Int16: return static_cast<const int16_t*>(values)[i];
    case ValueType::Int32: return static_cast<const int32_t*>(values)[i];
    case ValueType::Int64: return static_cast<const int64_t*>(values)[i];
    case ValueType::UInt8: return static_cast<const uint8_t*>(values)[i];
    case ValueType::UInt16: return static_cast<const uint16_t*>(values)[i];
    case ValueType::UInt32: return static_cast<const uint32_t*>(values)[i];
    default: {
      const uint64_t u = static_cast<const uint64_t*>(values)[i];
      return u > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(u);
    }
  }
}

namespace {

template <class Offset>
std::optional<std::string> check_offsets(const ArrayView& v, const void* data) {
  const auto* o = static_cast<const Offset*>(v.values);
  for (int64_t i = v.offset; i < v.offset + v.length; ++i) {
    if (o[i] < 0 || o[i + 1] < o[i]) return "string offsets out of order";
  }
  if (v.length > 0 && data == nullptr && o[v.offset + v.length] != o[v.offset]) return "missing character buffer";
  return std::nullopt;
}

std::optional<std::string> check_views(const ArrayView& v, const ArrowArray& array) {
  const auto* sizes = static_cast<const int64_t*>(array.buffers[array.n_buffers - 1]);
  if (v.variadic_count > 0 && sizes == nullptr) return "missing buffer sizes of a string view array";
  for (int64_t b = 0; b < v.variadic_count; ++b) {
    if (sizes[b] < 0 || (sizes[b] > 0 && v.variadic[b] == nullptr)) return "bad character buffer of a string view";
  }
  const auto* views = static_cast<const unsigned char*>(v.values);
  for (int64_t row = 0; row < v.length; ++row) {
    if (v.is_null(row)) continue;
    const unsigned char* view = views + 16 * (v.offset + row);
    int32_t len, buffer, start;
    std::memcpy(&len, view, 4);
    if (len < 0) return "negative string view length";
    if (len <= 12) continue;
    std::memcpy(&buffer, view + 8, 4);
    std::memcpy(&start, view + 12, 4);
    if (buffer < 0 || buffer >= v.variadic_count || start < 0 || int64_t{start} + len > sizes[buffer]) {
      return "string view outside its buffer";
    }
  }
  return std::nullopt;
}

}  // namespace

std::string type_name(std::string_view f) {
  static constexpr std::pair<std::string_view, std::string_view> NAMES[] = {
      {"n", "null"},        {"b", "bool"},         {"c", "int8"},       {"s", "int16"},   {"i", "int32"},
      {"l", "int64"},       {"C", "uint8"},        {"S", "uint16"},     {"I", "uint32"},  {"L", "uint64"},
      {"e", "float16"},     {"f", "float32"},      {"g", "float64"},    {"u", "string"},  {"U", "large_string"},
      {"vu", "string_view"}, {"z", "binary"},      {"Z", "large_binary"}, {"vz", "binary_view"},
      {"tdD", "date32"},    {"tdm", "date64"},     {"+s", "struct"},    {"+l", "list"},   {"+L", "large_list"}};
  for (const auto& [format, name] : NAMES) {
    if (f == format) return std::string(name);
  }
  ColumnType t;
  if (parse_decimal(f, t)) {
    std::string_view params = f.substr(2);
    const size_t comma = params.find(',', params.find(',') + 1);
    return "decimal" + std::to_string(t.decimal_bytes * 8) + "(" + std::string(params.substr(0, comma)) + ")";
  }
  if (f.substr(0, 2) == "d:") return "decimal(" + escaped_text(f.substr(2)) + ")";
  if (f.substr(0, 2) == "ts") return "timestamp";
  return "Arrow format '" + escaped_text(f) + "'";
}

std::string escaped_text(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    // The length of a well-formed sequence starting here (as Python decodes
    // UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
    size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n > 1) {
      if (i + n > text.size()) {
        n = 0;
      } else {
        const auto c1 = static_cast<unsigned char>(text[i + 1]);
        const unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        if (c1 < low || c1 > high) n = 0;
        for (size_t k = 2; n != 0 && k < n; ++k) {
          if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
        }
      }
    }
    if (n == 0) {
      static constexpr char HEX[] = "0123456789abcdef";
      out += "\\x";
      out += HEX[b >> 4];
      out += HEX[b & 15];
      ++i;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

Expected<ColumnType, std::string> parse_format(std::string_view format, const char* dictionary_format) {
  if (dictionary_format == nullptr) return parse_values(format);
  auto index = parse_values(format);
  if (!index.ok() || !is_integer(index->type)) {
    return unexpected("dictionary with " + type_name(format) + " indices");
  }
  auto values = parse_values(dictionary_format);
  if (!values.ok()) return unexpected("dictionary of " + values.error());
  ColumnType t = *values;
  t.dictionary = true;
  t.index = index->type;
  return t;
}

Expected<ArrayView, std::string> view_array(const ArrowSchema& schema, const ArrowArray& array, int64_t skip,
                                            int64_t length) {
  if (schema.format == nullptr) return unexpected(std::string("schema without a format"));
  if (schema.dictionary != nullptr && (schema.dictionary->format == nullptr || schema.dictionary->dictionary)) {
    return unexpected(std::string("dictionary schema without a format, or of a dictionary"));
  }
  auto type = parse_format(schema.format, schema.dictionary != nullptr ? schema.dictionary->format : nullptr);
  if (!type.ok()) return unexpected("unsupported type " + type.error());
  if (array.release == nullptr) return unexpected(std::string("array already released"));
  if (array.length < 0 || array.offset < 0 || array.null_count < -1 || array.n_buffers < 0) {
    return unexpected(std::string("negative length, offset, null count or buffer count"));
  }
  if (array.length > MAX_ROWS || array.offset > MAX_ROWS - array.length) {
    return unexpected("array of " + std::to_string(array.length) + " rows at offset " + std::to_string(array.offset) +
                      ": more than " + std::to_string(MAX_ROWS) + " rows");
  }
  if (skip < 0 || length < 0 || skip > array.length || length > array.length - skip) {
    return unexpected("array of " + std::to_string(array.length) + " rows where " + std::to_string(length) +
                      " from row " + std::to_string(skip) + " are needed");
  }
  ArrayView v;
  v.type = type->dictionary ? type->index : type->type;
  v.decimal_bytes = type->decimal_bytes;
  v.scale = type->scale;
  v.length = length;
  v.offset = array.offset + skip;
  int64_t buffers = 2;
  if (v.type == ValueType::Null) buffers = 0;
  if (v.type == ValueType::Utf8 || v.type == ValueType::LargeUtf8) buffers = 3;
  if (v.type == ValueType::Utf8View) {
    if (array.n_buffers < 3) return unexpected(std::string("string view array with fewer than 3 buffers"));
    buffers = array.n_buffers;
  }
  if (array.n_buffers != buffers) {
    return unexpected("array with " + std::to_string(array.n_buffers) + " buffers where its type has " +
                      std::to_string(buffers));
  }
  if (buffers > 0 && array.buffers == nullptr) return unexpected(std::string("array without its buffers"));
  if (v.type == ValueType::Null) return v;  // every value null, whatever its null count
  if (array.null_count > 0 && array.buffers[0] == nullptr) {
    return unexpected("array with " + std::to_string(array.null_count) + " nulls but no validity bitmap");
  }
  if (array.null_count != 0) v.validity = static_cast<const uint8_t*>(array.buffers[0]);
  v.values = array.buffers[1];
  if (v.values == nullptr && array.length > 0) return unexpected(std::string("missing value buffer"));
  if (length == 0) return v;
  std::optional<std::string> fault;
  if (v.type == ValueType::Utf8) {
    v.data = static_cast<const char*>(array.buffers[2]);
    fault = check_offsets<int32_t>(v, v.data);
  } else if (v.type == ValueType::LargeUtf8) {
    v.data = static_cast<const char*>(array.buffers[2]);
    fault = check_offsets<int64_t>(v, v.data);
  } else if (v.type == ValueType::Utf8View) {
    v.variadic = reinterpret_cast<const char* const*>(array.buffers + 2);
    v.variadic_count = array.n_buffers - 3;
    fault = check_views(v, array);
  }
  if (fault) return unexpected(std::move(*fault));
  if (type->dictionary) {
    if (array.dictionary == nullptr) return unexpected(std::string("dictionary array without its dictionary"));
    ArrowSchema values_schema = *schema.dictionary;
    values_schema.dictionary = nullptr;  // a dictionary of dictionaries was refused above
    auto values = view_array(values_schema, *array.dictionary, 0, array.dictionary->length);
    if (!values.ok()) return unexpected("dictionary: " + values.error());
    for (int64_t row = 0; row < length; ++row) {
      if (v.is_null(row)) continue;
      const int64_t i = index_at(v.type, v.values, v.offset + row);
      if (i < 0 || i >= values->length) return unexpected(std::string("dictionary index out of range"));
    }
    v.dictionary = std::make_shared<const ArrayView>(std::move(*values));
    v.index = type->index;
    v.type = type->type;
  }
  return v;
}

size_t Column::chunk_of(int64_t row) const {
  const auto it = std::upper_bound(starts.begin(), starts.end(), row);
  return static_cast<size_t>(it - starts.begin()) - 1;
}

}  // namespace vexlor::columnar
