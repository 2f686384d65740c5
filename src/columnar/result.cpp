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

// The coefficient of `d` times 10^k, or false when it reaches 10^38.
bool scaled(const Decimal& d, int32_t k, u128& out) {
  u128 c = wide::make_u128(d.hi(), d.lo());
  while (k > 0 && c != 0) {
    const int32_t step = std::min(k, 19);
    const uint64_t f = POW10_U64[step];
    if (c > (LIMIT - 1) / f) return false;
    c = c * f;
    k -= step;
  }
  out = c;
  return true;
}

}  // namespace

bool AlignedBuffer::allocate(size_t bytes) {
  const size_t size = (bytes + 63) / 64 * 64;
  void* p = std::aligned_alloc(64, size == 0 ? 64 : size);
  if (p == nullptr) return false;
  std::memset(p, 0, size == 0 ? 64 : size);
  data.reset(p);
  return true;
}

Expected<ResultColumn, ScaleOverflow> make_result(RunResult&& run, std::optional<int32_t> scale,
                                                  bool& out_of_memory) {
  ResultColumn col;
  col.length = static_cast<int64_t>(run.values.size());
  col.null_count = run.null_count;
  col.values = std::move(run.values);
  col.valid = std::move(run.valid);
  const size_t n = col.values.size();
  if (scale) {
    col.scale = *scale;
    for (size_t i = 0; i < n; ++i) {
      if (col.valid[i] && col.values[i].scale() > static_cast<uint32_t>(*scale)) {
        col.values[i] = col.values[i].round_dp(static_cast<uint32_t>(*scale));
      }
    }
  } else {
    uint32_t most = 0;
    for (size_t i = 0; i < n; ++i) {
      if (col.valid[i]) most = std::max(most, col.values[i].scale());
    }
    col.scale = static_cast<int32_t>(most);
  }
  if (!col.data.allocate(16 * n) || (col.null_count > 0 && !col.validity.allocate((n + 7) / 8))) {
    out_of_memory = true;
    return col;
  }
  auto* words = static_cast<uint64_t*>(col.data.data.get());
  auto* bits = static_cast<uint8_t*>(col.validity.data.get());
  for (size_t i = 0; i < n; ++i) {
    if (!col.valid[i]) continue;
    if (bits != nullptr) bits[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
    const Decimal& d = col.values[i];
    u128 c;
    if (!scaled(d, col.scale - static_cast<int32_t>(d.scale()), c)) {
      return unexpected(ScaleOverflow{static_cast<int64_t>(i), d, col.scale});
    }
    if (d.is_sign_negative()) c = ~c + 1;
    words[2 * i] = wide::lo64(c);
    words[2 * i + 1] = wide::hi64(c);
  }
  return col;
}

}  // namespace vexlor::columnar
