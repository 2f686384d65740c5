// Loading column blocks as lanes for the vectorised path.

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "columnar/fast.hpp"
#include "columnar/fast_ops.hpp"

namespace vexlor::columnar::fast {

bool loadable(const Column& column, int64_t row, int64_t count) {
  const size_t first = column.chunk_of(row);
  const bool decimal = column.chunks[first].type == ValueType::Decimal;
  const int32_t scale = column.chunks[first].scale;
  for (size_t c = first; c < column.chunks.size() && column.starts[c] < row + count; ++c) {
    const ArrayView& v = column.chunks[c];
    if (v.dictionary || (v.type == ValueType::Decimal) != decimal) return false;
    switch (v.type) {
      case ValueType::Bool: case ValueType::Int8: case ValueType::Int16: case ValueType::Int32: case ValueType::Int64:
      case ValueType::UInt8: case ValueType::UInt16: case ValueType::UInt32: case ValueType::UInt64:
        break;
      case ValueType::Decimal:
        if (v.scale < 0 || v.scale > static_cast<int32_t>(MAX_SCALE) || v.scale != scale) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

namespace {

// The values of a chunk; false when one does not fit 64 bits.
template <class T>
bool load_ints(const ArrayView& v, int64_t at, int64_t count, int64_t* out) {
  const T* p = static_cast<const T*>(v.values) + v.offset + at;
  bool fits = true;
  for (int64_t k = 0; k < count; ++k) {
    out[k] = static_cast<int64_t>(p[k]);
    if constexpr (std::is_same_v<T, uint64_t>) fits &= p[k] <= static_cast<uint64_t>(INT64_MAX);
  }
  return fits;
}

// The magnitudes' range of a chunk's values, kept as they are loaded.
struct Range {
  uint64_t bound = 0, least = UINT64_MAX;
  bool known = true;  // false: to be found by a pass over the lanes
};

// decimal128 values that fit 64 bits (their high word extends the low word's sign).
bool load_decimal128(const unsigned char* w, int64_t count, int64_t* out, Range& range) {
  uint64_t bound = range.bound, least = range.least, wide = 0;
  for (int64_t k = 0; k < count; ++k) {
    int64_t lo, hi;
    std::memcpy(&lo, w + 16 * k, 8);
    std::memcpy(&hi, w + 16 * k + 8, 8);
    out[k] = lo;
    const int64_t sign = lo >> 63;
    wide |= static_cast<uint64_t>(hi ^ sign);
    const uint64_t magnitude = (static_cast<uint64_t>(lo) ^ static_cast<uint64_t>(sign)) - static_cast<uint64_t>(sign);
    bound = std::max(bound, magnitude);
    least = std::min(least, magnitude);
  }
  range.bound = bound;
  range.least = least;
  return wide == 0;
}

bool load_chunk(const ArrayView& v, int64_t at, int64_t count, int64_t* out, Range& range) {
  if (v.type == ValueType::Decimal && v.decimal_bytes == 16) {
    return load_decimal128(static_cast<const unsigned char*>(v.values) + 16 * (v.offset + at), count, out, range);
  }
  range.known = false;
  switch (v.type) {
    case ValueType::Int8: return load_ints<int8_t>(v, at, count, out);
    case ValueType::Int16: return load_ints<int16_t>(v, at, count, out);
    case ValueType::Int32: return load_ints<int32_t>(v, at, count, out);
    case ValueType::Int64: return load_ints<int64_t>(v, at, count, out);
    case ValueType::UInt8: return load_ints<uint8_t>(v, at, count, out);
    case ValueType::UInt16: return load_ints<uint16_t>(v, at, count, out);
    case ValueType::UInt32: return load_ints<uint32_t>(v, at, count, out);
    case ValueType::UInt64: return load_ints<uint64_t>(v, at, count, out);
    case ValueType::Bool:
      for (int64_t k = 0; k < count; ++k) {
        const int64_t i = v.offset + at + k;
        out[k] = (static_cast<const uint8_t*>(v.values)[i >> 3] >> (i & 7)) & 1;
      }
      return true;
    case ValueType::Decimal:
      if (v.decimal_bytes == 8) return load_ints<int64_t>(v, at, count, out);
      return load_ints<int32_t>(v, at, count, out);
    default:
      return false;
  }
}

void bounds(const int64_t* v, int64_t count, Lanes& lanes) {
  uint64_t bound = 0, least = UINT64_MAX;
  for (int64_t k = 0; k < count; ++k) {
    const uint64_t sign = static_cast<uint64_t>(v[k] >> 63);
    const uint64_t magnitude = (static_cast<uint64_t>(v[k]) ^ sign) - sign;
    bound = std::max(bound, magnitude);
    least = std::min(least, magnitude);
  }
  lanes.bound = bound;
  lanes.least = count > 0 ? least : 0;
}

}  // namespace

bool load_lanes(const Column& column, int64_t row, int64_t count, int64_t* out, uint8_t* null, Lanes& lanes) {
  const ArrayView& first = column.chunks[column.chunk_of(row)];
  bool fits = true, nulls = false;
  Range range;
  column.for_each_part(row, count, [&](const ArrayView& v, int64_t at, int64_t take, int64_t done) {
    fits &= load_chunk(v, at, take, out + done, range);
    if (v.validity != nullptr) {
      for (int64_t k = 0; k < take; ++k) {
        const bool is_null = v.is_null(at + k);
        null[done + k] = is_null;
        nulls |= is_null;
        if (is_null) out[done + k] = 1;  // a value that fails nowhere
      }
    } else {
      std::memset(null + done, 0, static_cast<size_t>(take));
    }
  });
  if (!fits) return false;
  lanes = Lanes{};
  lanes.values = out;
  lanes.scale = first.type == ValueType::Decimal ? first.scale : 0;
  lanes.null = nulls ? null : nullptr;
  if (range.known && !nulls) {
    lanes.bound = range.bound;
    lanes.least = range.least;
  } else {  // (null rows now hold 1)
    bounds(out, count, lanes);
  }
  return true;
}

bool narrow_lanes(const Decimal* w, const uint8_t* null, int64_t count, int64_t* out, uint8_t* own, Lanes& lanes) {
  uint32_t most = 0, least = 28;
  for (int64_t k = 0; k < count; ++k) {
    if (null != nullptr && null[k]) continue;
    const Decimal& d = w[k];
    if (d.hi() != 0 || d.lo() > static_cast<uint64_t>(INT64_MAX) || (d.is_zero() && d.is_sign_negative())) {
      return false;
    }
    most = std::max(most, d.scale());
    least = std::min(least, d.scale());
  }
  for (int64_t k = 0; k < count; ++k) {
    if (null != nullptr && null[k]) {
      out[k] = 1;
      own[k] = static_cast<uint8_t>(most);
      continue;
    }
    const Decimal& d = w[k];
    uint64_t m = d.lo();
    if (d.scale() != most && (most - d.scale() > 18 || __builtin_mul_overflow(m, POW10_U64[most - d.scale()], &m) ||
                              m > static_cast<uint64_t>(INT64_MAX))) {
      return false;
    }
    out[k] = d.is_sign_negative() ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
    own[k] = static_cast<uint8_t>(d.scale());
  }
  lanes = Lanes{};
  lanes.values = out;
  lanes.scale = static_cast<int32_t>(most);
  lanes.own = least == most ? nullptr : own;
  bounds(out, count, lanes);
  return true;
}

}  // namespace vexlor::columnar::fast
