#pragma once
// The compiler and the JSON text form of programs.
//
//   auto program = vexlor::compile_str("a + b * 2", 15);
//   std::string json = vexlor::write_json(*program);
//   auto again = vexlor::read_json(json);   // equal to *program
//
// Errors are plain texts: compile errors begin with "Parse error: ", reader
// errors end with " at line L column C".

#include <cstddef>
#include <string>
#include <string_view>

#include "compiler/bytecode.hpp"
#include "parser/parser.hpp"
#include "util/expected.hpp"

namespace vexlor {

// Parses `text`, refuses a tree deeper than `max_depth`, and emits its program.
Expected<Program, std::string> compile_str(std::string_view text, size_t max_depth);

// Appends the code of `node` (post-order) to `program`. Recurses once per level
// of the tree: call it only on trees whose depth has been bounded.
void emit(const Expr& node, Program& program);

// The compact JSON text of a program, e.g. [{"PushConst":"1"},{"PushConst":"2"},"Add"].
std::string write_json(const Program& program);
// Appends the JSON text of `program` to `out`.
void write_json(const Program& program, std::string& out);

// Rebuilds a program from its JSON text; the error is the full message with its
// " at line L column C" suffix.
Expected<Program, std::string> read_json(std::string_view text);

}  // namespace vexlor
