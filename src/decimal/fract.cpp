// The fractional part, through the subtraction (which keeps the larger scale).

#include "decimal/decimal.hpp"

namespace vexlor {

Decimal Decimal::fract() const {
  // Cannot overflow: both operands have the same sign and |trunc()| <= |*this|.
  return sub_impl(*this, trunc()).value;
}

}  // namespace vexlor
