// Reading decimal text with an exponent ("1.5e3", "2E-7").

#include "decimal/decimal.hpp"

namespace vexlor {
namespace {

constexpr const char* PARSE_FAILED = "Failed to parse";

// An unsigned 32-bit decimal integer with an optional leading "+".
std::optional<uint32_t> read_u32(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

constexpr uint64_t pow10_u64(uint32_t n) {
  uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

}  // namespace

Expected<Decimal, Error> Decimal::from_scientific(std::string_view text) {
  const size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) return unexpected(Error::message(PARSE_FAILED));
  auto base = from_str(text.substr(0, e));
  if (!base) return unexpected(base.error());
  std::string_view exponent_text = text.substr(e + 1);
  if (exponent_text.empty()) return unexpected(Error::message(PARSE_FAILED));
  const bool negative_exponent = exponent_text.front() == '-';
  if (negative_exponent) exponent_text.remove_prefix(1);
  const std::optional<uint32_t> exponent = read_u32(exponent_text);
  if (!exponent) return unexpected(Error::message(PARSE_FAILED));

  const Decimal value = *base;
  const uint32_t k = *exponent;
  const uint32_t scale = value.scale();
  if (negative_exponent) {
    if (k > MAX_SCALE) return unexpected(Error::scale_too_large(k));
    if (scale + k > MAX_SCALE) return unexpected(Error::scale_too_large(scale + k));
    return from_parts(value.lo(), value.hi(), scale + k, value.is_sign_negative());
  }
  if (k <= scale) return from_parts(value.lo(), value.hi(), scale - k, value.is_sign_negative());
  if (k > MAX_SCALE) return unexpected(Error::scale_too_large(k));

  Decimal product = value;
  uint32_t remaining = k;
  while (remaining > 18) {
    const ArithResult step = mul_impl(product, from_parts(pow10_u64(19), 0, 0, false));
    if (!step.is_ok()) return unexpected(Error::too_large());
    product = step.value;
    remaining -= 19;
  }
  if (remaining > 0) {
    const ArithResult step = mul_impl(product, from_parts(pow10_u64(remaining), 0, 0, false));
    if (!step.is_ok()) return unexpected(Error::too_large());
    product = step.value;
  }
  product.normalize_assign();
  return product;
}

}  // namespace vexlor
