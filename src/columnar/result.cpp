// Writing results as decimal128(38, S).

#include "columnar/result.hpp"

#include <algorithm>
#include <cstring>

#include "decimal/wide.hpp"

namespace vexlor::columnar {
namespace {

using wide::u128;

// 10^38, the first magnitude that does not fit 38 digits.
const u128 LIMIT = wide::mul64(POW10_U64[19], POW10_U64[19]) * 100;

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

u128 scale_down(u128 magnitude, int32_t k) {
  while (k > 0) {
    const int32_t step = std::min(k, 19);
    magnitude = magnitude / POW10_U64[step];
    k -= step;
  }
  return magnitude;
}

Decimal decimal_of(u128 magnitude, bool negative, uint8_t scale_byte) {
  const uint32_t own = scale_byte & ~NEGATIVE_ZERO;
  const bool zero = magnitude == 0;
  return Decimal::from_parts(wide::lo64(magnitude), static_cast<uint32_t>(wide::hi64(magnitude)), own,
                             zero ? (scale_byte & NEGATIVE_ZERO) != 0 : negative);
}

}  // namespace

Decimal ResultColumn::value(int64_t row) const {
  const Signed s = read(rows.words(row));
  const uint8_t own = rows.scale[static_cast<size_t>(row)];
  return decimal_of(scale_down(s.magnitude, scale - (own & ~NEGATIVE_ZERO)), s.negative, own);
}

Expected<ResultColumn, ScaleOverflow> make_result(RunResult&& run, std::optional<int32_t> scale,
                                                  bool& out_of_memory) {
  ResultColumn col;
  col.length = run.length;
  col.null_count = run.null_count;
  col.rows = std::move(run.rows);
  const size_t n = static_cast<size_t>(col.length);
  const uint8_t* valid = col.rows.valid.data();
  uint8_t* own = col.rows.scale.data();
  col.scale = scale ? *scale : run.most_scale;
  // Every row already in place: all of them values at the result's scale.
  const bool in_place = col.null_count == 0 && run.least_scale == run.most_scale && run.most_scale == col.scale;
  for (size_t i = 0; !in_place && i < n; ++i) {
    uint64_t* w = col.rows.words(static_cast<int64_t>(i));
    if (!valid[i]) {
      w[0] = w[1] = 0;
      continue;
    }
    const int32_t s = own[i] & ~NEGATIVE_ZERO;
    if (s == col.scale) continue;
    Signed v = read(w);
    if (s > col.scale) {  // rounded to the places asked for
      const Decimal d = decimal_of(v.magnitude, v.negative, own[i]).round_dp(static_cast<uint32_t>(col.scale));
      v = {wide::make_u128(d.hi(), d.lo()), d.is_sign_negative()};
      own[i] = static_cast<uint8_t>(col.scale);
    } else if (!scale_up(v.magnitude, col.scale - s)) {
      return unexpected(ScaleOverflow{static_cast<int64_t>(i), decimal_of(v.magnitude, v.negative, own[i]),
                                      col.scale});
    }
    write(w, v.magnitude, v.negative);
  }
  if (col.null_count > 0) {
    if (!col.validity.allocate((n + 7) / 8)) {
      out_of_memory = true;
      return col;
    }
    auto* bits = static_cast<uint8_t*>(col.validity.data.get());
    std::memset(bits, 0, (n + 7) / 8);
    for (size_t i = 0; i < n; ++i) bits[i >> 3] |= static_cast<uint8_t>(valid[i] << (i & 7));
  }
  return col;
}

}  // namespace vexlor::columnar
