// Fuzzes the compiler's single-pass path against the parser on arbitrary bytes:
// it must take exactly the texts the parser accepts, emit the program of the
// parsed tree and report the tree's depth; compile_str must give that program,
// word every parse error as the parser does, and refuse a depth one below the
// tree's with the depth message.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compiler/compile_fast.hpp"
#include "compiler/compiler.hpp"
#include "../tests/cpp/compiler/tree_depth.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "invariant violated: %s\ntext (%zu bytes): %.*s\n", what, text.size(),
               static_cast<int>(text.size() < 200 ? text.size() : 200), text.data());
  std::abort();
}

using vexlor::testing_support::depth_of;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto tree = vexlor::parse(text);
  vexlor::Program fast;
  size_t fast_depth = 0;
  const bool taken = vexlor::compile_fast(text, fast, fast_depth);
  auto compiled = vexlor::compile_str(text, 1024);
  if (!tree.ok()) {
    if (taken) fail("the fast path took a text the parser refuses", text);
    if (compiled.ok()) fail("compile_str accepted a text the parser refuses", text);
    if (compiled.error() != "Parse error: " + tree.error().to_string()) fail("error texts differ", text);
    return 0;
  }
  vexlor::Program expected;
  vexlor::emit(**tree, expected);
  const size_t depth = depth_of(**tree);
  if (!taken) fail("the fast path refused a text the parser accepts", text);
  if (!vexlor::programs_equal(fast, expected)) fail("the fast path's program differs", text);
  if (fast_depth != depth) fail("the fast path's depth differs", text);
  if (depth > 1024) {
    if (compiled.ok()) fail("compile_str ignored the depth bound", text);
    return 0;
  }
  if (!compiled.ok()) fail("compile_str refused a text the parser accepts", text);
  if (!vexlor::programs_equal(*compiled, expected)) fail("compile_str's program differs", text);
  if (depth > 1) {
    auto refused = vexlor::compile_str(text, depth - 1);
    if (refused.ok() || refused.error() != "Parse error: expression nesting depth " + std::to_string(depth) +
                                               " exceeds max_depth " + std::to_string(depth - 1))
      fail("depth bound not reported", text);
  }
  return 0;
}
