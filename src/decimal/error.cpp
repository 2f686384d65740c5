#include <cstdio>
#include <cstdlib>

#include "decimal/decimal.hpp"

namespace vexlor {

std::string Error::to_string() const {
  switch (kind_) {
    case Kind::Message:
      return std::string(text_);
    case Kind::TooLarge:
      return "Number exceeds maximum value that can be represented.";
    case Kind::TooSmall:
      return "Number less than minimum value that can be represented.";
    case Kind::TooPrecise:
      return "Number has a high precision that can not be represented.";
    case Kind::ScaleTooLarge:
      return "Scale exceeds the maximum precision allowed: " + std::to_string(scale_) + " > " +
             std::to_string(MAX_SCALE);
    case Kind::ConversionFailed:
      return "Error while converting to " + std::string(text_);
  }
  return {};
}

Decimal Decimal::new_(int64_t n, uint32_t scale) {
  if (scale > MAX_SCALE) {
    std::fprintf(stderr, "%s\n", Error::scale_too_large(scale).to_string().c_str());
    std::abort();
  }
  const uint64_t magnitude = n < 0 ? uint64_t{0} - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  return from_parts(magnitude, 0, scale, n < 0);
}

}  // namespace vexlor
