// The result column: rows kept exactly, converted when exported.

#include "columnar/result.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "decimal/wide.hpp"

namespace vexlor::columnar {
namespace {

using wide::u128;

// 10^38, the first magnitude that does not fit 38 digits.
const u128 LIMIT = wide::mul64(POW10_U64[19], POW10_U64[19]);

struct Signed {
  u128 magnitude;
  bool negative;
};

Signed read(const uint64_t* w) {
  const bool negative = (w[1] >> 63) != 0;
  u128 v = wide::make_u128(w[1], w[0]);
  return {negative ? ~v + 1 : v, negative};
}

void write(uint64_t* w, u128 magnitude, bool negative) {
  if (negative) magnitude = ~magnitude + 1;
  w[0] = wide::lo64(magnitude);
  w[1] = wide::hi64(magnitude);
}

// magnitude * 10^k, or false when it reaches 10^38.
bool scale_up(u128& magnitude, int32_t k) {
  while (k > 0 && magnitude != 0) {
    const int32_t step = std::min(k, 19);
    const uint64_t f = POW10_U64[step];
    if (magnitude > (LIMIT - 1) / f) return false;
    magnitude = magnitude * f;
    k -= step;
  }
  return true;
}

Decimal decimal_of(u128 magnitude, bool negative, uint8_t scale_byte) {
  const uint32_t own = scale_byte & ~NEGATIVE_ZERO;
  const bool zero = magnitude == 0;
  return Decimal::from_parts(wide::lo64(magnitude), static_cast<uint32_t>(wide::hi64(magnitude)), own,
                             zero ? (scale_byte & NEGATIVE_ZERO) != 0 : negative);
}

// The row rounded half to even to `scale` places (own scale above it).
Signed rounded(const Signed& v, uint8_t own, int32_t scale) {
  const Decimal d = decimal_of(v.magnitude, v.negative, own).round_dp(static_cast<uint32_t>(scale));
  return {wide::make_u128(d.hi(), d.lo()), d.is_sign_negative()};
}

bool concatenate(std::vector<RunResult>& runs, ResultColumn& col) {
  int64_t total = 0;
  for (const RunResult& r : runs) total += r.length;
  col.length = total;
  if (runs.size() == 1) {
    col.rows = std::move(runs[0].rows);
    return true;
  }
  const auto n = static_cast<size_t>(total);
  if (static_cast<uint64_t>(total) > SIZE_MAX / 16 || !col.rows.data.allocate(16 * n)) return false;
  try {
    col.rows.scale.resize(n);
    col.rows.valid.resize(n);
  } catch (const std::bad_alloc&) {
    return false;
  }
  int64_t at = 0;
  for (RunResult& r : runs) {
    const auto k = static_cast<size_t>(r.length);
    if (k > 0) {
      std::memcpy(col.rows.words(at), r.rows.words(0), 16 * k);
      std::memcpy(col.rows.scale.data() + at, r.rows.scale.data(), k);
      std::memcpy(col.rows.valid.data() + at, r.rows.valid.data(), k);
    }
    at += r.length;
    r.rows = Rows{};
  }
  return true;
}

}  // namespace

Decimal ResultColumn::value(int64_t row) const {
  const Signed s = read(rows.words(row));
  return decimal_of(s.magnitude, s.negative, rows.scale[static_cast<size_t>(row)]);
}

Expected<ResultColumn, ScaleOverflow> make_result(std::vector<RunResult>&& runs, std::optional<int32_t> scale,
                                                  bool& out_of_memory) {
  ResultColumn col;
  col.fixed_scale = scale;
  for (const RunResult& r : runs) {
    col.null_count += r.null_count;
    col.least_scale = std::min(col.least_scale, r.least_scale);
    col.most_scale = std::max(col.most_scale, r.most_scale);
  }
  if (!concatenate(runs, col)) {
    out_of_memory = true;
    return col;
  }
  if (!scale || col.length == col.null_count) return col;
  const int32_t s = *scale;
  // Nothing to round, and every value fits: 29 digits at most, scaled up by at most 9 places.
  if (col.most_scale <= s && s - col.least_scale <= RESULT_PRECISION - 29) return col;
  const uint8_t* valid = col.rows.valid.data();
  uint8_t* own = col.rows.scale.data();
  for (int64_t i = 0; i < col.length; ++i) {
    if (!valid[i]) continue;
    const int32_t k = own[i] & ~NEGATIVE_ZERO;
    uint64_t* w = col.rows.words(i);
    Signed v = read(w);
    if (k > s) {
      v = rounded(v, own[i], s);
      own[i] = static_cast<uint8_t>(s);
      write(w, v.magnitude, v.negative);
    } else if (u128 m = v.magnitude; !scale_up(m, s - k)) {
      return unexpected(ScaleOverflow{i, decimal_of(v.magnitude, v.negative, own[i]), s});
    }
  }
  col.most_scale = static_cast<uint8_t>(std::min<int32_t>(col.most_scale, s));
  col.least_scale = static_cast<uint8_t>(std::min<int32_t>(col.least_scale, s));
  return col;
}

Expected<std::shared_ptr<const Exported>, ScaleOverflow> prepare_export(
    const std::shared_ptr<const ResultColumn>& column, ExportType type) {
  const ResultColumn& col = *column;
  std::shared_ptr<Exported> out;
  try {
    out = std::make_shared<Exported>();
  } catch (const std::bad_alloc&) {
    return std::shared_ptr<const Exported>();
  }
  out->column = column;
  out->type = type;
  const auto n = static_cast<size_t>(col.length);
  const uint8_t* valid = col.rows.valid.data();
  const uint8_t* own = col.rows.scale.data();
  if (col.null_count > 0) {
    if (!out->validity.allocate((n + 7) / 8)) return std::shared_ptr<const Exported>();
    auto* bits = static_cast<uint8_t*>(out->validity.data.get());
    std::memset(bits, 0, (n + 7) / 8);
    for (size_t i = 0; i < n; ++i) bits[i >> 3] |= static_cast<uint8_t>(valid[i] << (i & 7));
    out->buffers[0] = bits;
  }
  if (type.text) {
    std::vector<DecimalText> texts;
    size_t total = 0;
    try {
      texts.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        texts.push_back(valid[i] ? col.value(static_cast<int64_t>(i)).text() : DecimalText{});
        total += texts.back().size;
      }
    } catch (const std::bad_alloc&) {
      return std::shared_ptr<const Exported>();
    }
    if (total > INT32_MAX || !out->data.allocate(4 * (n + 1)) || !out->chars.allocate(total + 1)) {
      return std::shared_ptr<const Exported>();
    }
    auto* offsets = static_cast<int32_t*>(out->data.data.get());
    auto* chars = static_cast<char*>(out->chars.data.get());
    int32_t at = 0;
    for (size_t i = 0; i < n; ++i) {
      offsets[i] = at;
      std::memcpy(chars + at, texts[i].data, texts[i].size);
      at += static_cast<int32_t>(texts[i].size);
    }
    offsets[n] = at;
    out->buffers[1] = offsets;
    out->buffers[2] = chars;
    return std::shared_ptr<const Exported>(std::move(out));
  }
  const int32_t s = type.scale;
  if (col.null_count == 0 && (n == 0 || (col.least_scale == s && col.most_scale == s))) {
    out->buffers[1] = col.rows.data.data.get();  // every row already a value at S
    return std::shared_ptr<const Exported>(std::move(out));
  }
  if (!out->data.allocate(16 * n)) return std::shared_ptr<const Exported>();
  auto* words = static_cast<uint64_t*>(out->data.data.get());
  for (size_t i = 0; i < n; ++i) {
    uint64_t* w = words + 2 * i;
    if (!valid[i]) {
      w[0] = w[1] = 0;
      continue;
    }
    Signed v = read(col.rows.words(static_cast<int64_t>(i)));
    const int32_t k = own[i] & ~NEGATIVE_ZERO;
    if (k > s) {
      v = rounded(v, own[i], s);
    } else if (!scale_up(v.magnitude, s - k)) {
      return unexpected(ScaleOverflow{static_cast<int64_t>(i), col.value(static_cast<int64_t>(i)), s});
    }
    write(w, v.magnitude, v.negative);
  }
  out->buffers[1] = words;
  return std::shared_ptr<const Exported>(std::move(out));
}

}  // namespace vexlor::columnar
