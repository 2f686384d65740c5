#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/spans.hpp"

namespace vexlor {
namespace {

// Each instruction's [start, end) text and its [op_start, op_end) text, in program order.
struct SpanCase {
  const char* text;
  std::vector<std::pair<std::string, std::string>> spans;
};

TEST(InstructionSpans, Table) {
  const std::vector<SpanCase> cases = {
      {"a - b - c", {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"b - c", "-"}, {"a - b - c", "-"}}},
      {"(c - p) / p * 100",
       {{"c", "c"}, {"p", "p"}, {"c - p", "-"}, {"p", "p"}, {"100", "100"}, {"p * 100", "*"},
        {"(c - p) / p * 100", "/"}}},
      {" -x ^ 2", {{"x", "x"}, {"-x", "-"}, {"2", "2"}, {"-x ^ 2", "^"}}},
      {"max(a, (1), {12345678-1234-1234-1234-123456789abc})",
       {{"a", "a"}, {"1", "1"}, {"{12345678-1234-1234-1234-123456789abc}", "{12345678-1234-1234-1234-123456789abc}"},
        {"max(a, (1), {12345678-1234-1234-1234-123456789abc})", "max"}}},
      {"a < b ? 1 : f()",
       {{"a", "a"}, {"b", "b"}, {"a < b", "<"}, {"a < b ? 1 : f()", "?"}, {"1", "1"}, {"a < b ? 1 : f()", ":"},
        {"f()", "f"}}},
      {"not (a and b) or c",
       {{"a", "a"}, {"b", "b"}, {"a and b", "and"}, {"not (a and b)", "not"}, {"c", "c"}, {"not (a and b) or c", "or"}}},
  };
  for (const SpanCase& c : cases) {
    Program program;
    auto spans = instruction_spans(c.text, 15, program);
    ASSERT_TRUE(spans.ok()) << c.text;
    ASSERT_EQ(spans->size(), program.size()) << c.text;
    ASSERT_EQ(spans->size(), c.spans.size()) << c.text;
    const std::string_view text(c.text);
    for (size_t i = 0; i < c.spans.size(); ++i) {
      const InstructionSpan& s = (*spans)[i];
      EXPECT_EQ(text.substr(s.start, s.end - s.start), c.spans[i].first) << c.text << " #" << i;
      EXPECT_EQ(text.substr(s.op_start, s.op_end - s.op_start), c.spans[i].second) << c.text << " #" << i;
    }
  }
}

TEST(InstructionSpans, RefusesWhatTheCompilerRefuses) {
  EXPECT_FALSE(instruction_spans("a +", 15).ok());
  EXPECT_EQ(instruction_spans("((a))", 0).error().rfind("Parse error: expression nesting depth", 0), 0u);
}

}  // namespace
}  // namespace vexlor
