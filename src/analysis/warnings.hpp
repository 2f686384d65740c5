#pragma once
// Places where an expression's text probably does not say what its author
// means, found from its syntax alone.
//
//   auto found = vexlor::syntax_warnings("(c - p) / p * 100", 15);
//   // one RightGrouping warning: the text is (c - p) / (p * 100)
//
// RightGrouping: operators of one level group to the right here, so `a - b + c`
// is a - (b + c). Each chain of operators of one level written without
// parentheses gets one warning when an operator -, /, // or % in it has a
// same-level operation as its right operand (chains of + or * alone mean the
// same either way; ^ is not concerned: powers group to the right everywhere).
// The message shows the grouping here and the left-to-right reading.
// SelfComparison: a comparison whose two sides are the same computation.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/expected.hpp"

namespace vexlor {

struct SyntaxWarning {
  enum class Kind : uint8_t { RightGrouping, SelfComparison };
  Kind kind;
  std::string message;
  size_t start = 0;  // the text concerned, [start, end) in bytes
  size_t end = 0;
};

// "right-grouping", "self-comparison".
std::string_view warning_kind_name(SyntaxWarning::Kind kind);

// The warnings of `text` in order of their start; the compiler's error text when
// it refuses the text.
Expected<std::vector<SyntaxWarning>, std::string> syntax_warnings(std::string_view text, size_t max_depth);

}  // namespace vexlor
