// Fuzzes the lexer and the parser on arbitrary bytes. Every outcome must be a
// tree or one of the four parse errors with consistent positions and an
// expected list in terminal order; parsing is deterministic. Some inputs are
// also repeated into a long text, so deep nesting and long chains are built
// and released (any recursion as deep as the tree would show here).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parser/parser.hpp"

using vexlor::LexStep;
using vexlor::Lexer;
using vexlor::ParseError;
using vexlor::Terminal;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "invariant violated: %s\ntext (%zu bytes): %.*s\n", what, text.size(),
               static_cast<int>(std::min<size_t>(text.size(), 200)), text.data());
  std::abort();
}

void check_expected_list(const ParseError& e, std::string_view text) {
  size_t previous = 0;
  bool first = true;
  for (std::string_view shown : e.expected) {
    size_t index = vexlor::TERMINAL_COUNT;
    for (size_t t = 0; t < vexlor::TERMINAL_COUNT; ++t) {
      if (vexlor::terminal_display(static_cast<Terminal>(t)) == shown) index = t;
    }
    if (index == vexlor::TERMINAL_COUNT) fail("unknown display string in the expected list", text);
    if (!first && index <= previous) fail("expected list not in terminal order", text);
    previous = index;
    first = false;
  }
}

// Returns the end of the last token before the first lexer failure, and checks
// the tokens cover the text with only whitespace between them.
size_t check_tokens(std::string_view text) {
  Lexer lexer(text);
  size_t last_end = 0;
  for (;;) {
    LexStep step = lexer.next();
    if (step.kind != LexStep::Kind::Token) return last_end;
    const vexlor::Token& t = step.token;
    if (t.start < last_end || t.end <= t.start || t.end > text.size()) fail("token positions", text);
    if (t.text != text.substr(t.start, t.end - t.start)) fail("token text", text);
    last_end = t.end;
  }
}

std::string outcome(std::string_view text) {
  auto result = vexlor::parse(text);
  if (result) return "tree: " + vexlor::describe(**result);
  const ParseError& e = result.error();
  std::string message = e.to_string();
  switch (e.kind) {
    case ParseError::Kind::InvalidToken:
      if (e.location >= text.size()) fail("invalid token past the end", text);
      if (message != "Invalid token at " + std::to_string(e.location)) fail("invalid token text", text);
      break;
    case ParseError::Kind::UnrecognizedEof:
      if (message.rfind("Unrecognized EOF found at ", 0) != 0) fail("EOF text", text);
      if (e.location != check_tokens(text)) fail("EOF location is not the end of the last token", text);
      if (e.expected.empty()) fail("EOF with nothing expected", text);
      check_expected_list(e, text);
      break;
    case ParseError::Kind::UnrecognizedToken:
      if (message.rfind("Unrecognized token `", 0) != 0) fail("token error text", text);
      if (e.end > text.size() || e.end <= e.location) fail("token error positions", text);
      if (e.token != text.substr(e.location, e.end - e.location)) fail("token error slice", text);
      check_expected_list(e, text);
      break;
    case ParseError::Kind::ActionError:
      if (message != "Invalid decimal literal") fail("action error text", text);
      break;
    default:
      fail("unknown error kind", text);
  }
  return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  check_tokens(text);
  std::string first = outcome(text);
  if (outcome(text) != first) fail("parse is not deterministic", text);
  if (size != 0 && size <= 64 && data[0] % 8 == 0) {
    std::string repeated;
    repeated.reserve(65536);
    while (repeated.size() + size <= 65536) repeated.append(text);
    outcome(repeated);
  }
  return 0;
}
