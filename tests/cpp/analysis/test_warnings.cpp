#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/warnings.hpp"

namespace vexlor {
namespace {

struct WarningCase {
  const char* text;
  std::vector<std::string> messages;  // in order; the span is checked to start the message
};

TEST(SyntaxWarnings, Table) {
  const std::vector<WarningCase> cases = {
      {"a - b - c", {"a - b - c groups to the right here: it is a - (b - c), not (a - b) - c; add parentheses to say "
                     "which is meant"}},
      {"a - b + c", {"a - b + c groups to the right here: it is a - (b + c), not (a - b) + c; add parentheses to say "
                     "which is meant"}},
      {"(c - p) / p * 100",
       {"(c - p) / p * 100 groups to the right here: it is (c - p) / (p * 100), not ((c - p) / p) * 100; add "
        "parentheses to say which is meant"}},
      {"x + a  %  b // c - 1",
       {"a % b // c groups to the right here: it is a % (b // c), not (a % b) // c; add parentheses to say which is "
        "meant"}},
      {"a + b - c + d", {"a + b - c + d groups to the right here: it is a + (b - (c + d)), not ((a + b) - c) + d; add "
                         "parentheses to say which is meant"}},
      {"a + b + c - d", {}},
      {"a * b * c / d", {}},
      {"a * b / c", {}},
      {"a - (b - c)", {}},
      {"(a - b) - c", {}},
      {"a ^ b ^ c", {}},
      {"a - b", {}},
      {"max(a, b) == max(a,b) or x + 1 < x + 1",
       {"max(a, b) == max(a,b) compares a value with itself: it is always true (1)",
        "x + 1 < x + 1 compares a value with itself: it is always false (0)"}},
      {"a == b", {}},
      {"a - b - c > a - b - c",
       {"a - b - c groups to the right here: it is a - (b - c), not (a - b) - c; add parentheses to say which is "
        "meant",
        "a - b - c > a - b - c compares a value with itself: it is always false (0)",
        "a - b - c groups to the right here: it is a - (b - c), not (a - b) - c; add parentheses to say which is "
        "meant"}},
  };
  for (const WarningCase& c : cases) {
    auto found = syntax_warnings(c.text, 15);
    ASSERT_TRUE(found.ok()) << c.text;
    ASSERT_EQ(found->size(), c.messages.size()) << c.text;
    for (size_t i = 0; i < found->size(); ++i) {
      const SyntaxWarning& w = (*found)[i];
      EXPECT_EQ(w.message, c.messages[i]) << c.text;
      const std::string spanned = std::string(c.text).substr(w.start, w.end - w.start);
      EXPECT_EQ(spanned.substr(0, 1), c.messages[i].substr(0, 1)) << c.text;
    }
  }
  EXPECT_FALSE(syntax_warnings("a -", 15).ok());
}

}  // namespace
}  // namespace vexlor
