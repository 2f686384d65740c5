#pragma once
// A float's Decimal worked out from its bits, without its text: the Decimal its
// shortest round-trip text ("12.5", "3.0", "0.0001") reads as, for the floats
// that text writes in plain notation with a whole part below 2^53 (2^24 for a
// float32) and at least 1e-4. False for every other value (zero, NaN,
// infinities, the ones written with an exponent, the rare ones whose shortest
// digits are not unique), which the caller reads through the text.

#include "decimal/decimal.hpp"

namespace vexlor::columnar {

bool shortest_decimal(double value, Decimal& out);
bool shortest_decimal(float value, Decimal& out);

}  // namespace vexlor::columnar
