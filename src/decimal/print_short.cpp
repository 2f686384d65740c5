// The table of the inline short text path.

#include "decimal/print_short.hpp"

namespace vexlor::print_detail {

alignas(64) constexpr FourDigitChars FOUR_DIGIT_CHARS;

}  // namespace vexlor::print_detail
