#pragma once
// The compiler's fast path for well-formed text (internal to the compiler).

#include <cstddef>
#include <string_view>

#include "compiler/bytecode.hpp"

namespace vexlor {

// Compiles `text` by one operator-precedence scan that emits code as it goes,
// and sets `depth` to the nesting depth of the tree the text stands for. It
// takes only text the grammar accepts: for anything else (every error
// included) it returns false, leaving `program` in an unspecified state, and
// the LALR parser decides.
bool compile_fast(std::string_view text, Program& program, size_t& depth);

}  // namespace vexlor
