#pragma once
// Reading results of the decimal operations (internal to the vm module).

#include "decimal/decimal.hpp"

namespace vexlor {

// A copy of `d` read field by field. The decimal operations write a result's words
// one by one; reading them back as a single 16-byte unit stalls the store buffer,
// which costs more than the copy itself.
inline Decimal fresh_copy(const Decimal& d) {
  return Decimal::from_parts(d.lo(), d.hi(), d.scale(), d.is_sign_negative());
}

}  // namespace vexlor
