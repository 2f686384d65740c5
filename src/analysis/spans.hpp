#pragma once
// Where each instruction of a compiled program came from in its source text.
//
//   auto spans = vexlor::instruction_spans("a - b / c", 15);
//   // spans->at(i): the text of instruction i of CompiledExpression("a - b / c")
//
// Offsets are bytes of the UTF-8 text, end exclusive. [start, end) is the whole
// sub-expression the instruction finishes: a constant's or a variable's token, an
// operation from its first operand to its last (parentheses around an operand
// included), a call from its name to its ")", and for the two jumps of `c ? a : b`
// the whole conditional. [op_start, op_end) is the token that names the
// instruction: the operator, the function's name, the "?" (JumpIfFalse) or ":"
// (Jump), or for a constant or a variable its own token again. Carets under
// [start, end) show what a step computed; a caret at op_start shows which
// operator did it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/bytecode.hpp"
#include "util/expected.hpp"

namespace vexlor {

struct InstructionSpan {
  size_t start = 0;
  size_t end = 0;
  size_t op_start = 0;
  size_t op_end = 0;
  bool operator==(const InstructionSpan&) const = default;
};

// The span of every instruction of compile_str(text, max_depth), in program
// order; the compiler's error text when it refuses the text. The program built
// alongside the spans is checked against the compiler's: should they ever
// differ, the error says so (no spans are better than wrong ones).
Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth);

// The same, also giving the program compiled (`program` is left as it was on error).
Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth,
                                                                      Program& program);

}  // namespace vexlor
