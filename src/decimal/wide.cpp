#include "decimal/wide.hpp"

#ifndef VEXLOR_NATIVE_INT128

#include "decimal/arith_internal.hpp"

namespace vexlor::wide {

DivMod128 divmod_portable(u128 a, u128 b) {
  const arith::DivMod r = arith::udivmod128(a, b);
  return {r.quot, r.rem};
}

}  // namespace vexlor::wide

#endif
