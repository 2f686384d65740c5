// Expected, the value-or-error every fallible core operation returns: copies,
// moves and assignments between every pair of states keep the right member
// alive (the sanitizer builds catch a leak or a double destruction).

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "util/expected.hpp"

namespace vexlor {
namespace {

// Long enough that both payloads live on the heap.
using Result = Expected<std::string, std::vector<std::string>>;
const std::string VALUE(40, 'v');
const std::vector<std::string> ERROR{std::string(40, 'e'), "second"};

Result make(bool ok) { return ok ? Result(VALUE) : Result(unexpected(ERROR)); }

void expect_state(const Result& r, bool ok) {
  ASSERT_EQ(r.ok(), ok);
  ASSERT_EQ(static_cast<bool>(r), ok);
  if (ok) {
    EXPECT_EQ(r.value(), VALUE);
    EXPECT_EQ(*r, VALUE);
    EXPECT_EQ(r->size(), VALUE.size());
  } else {
    EXPECT_EQ(r.error(), ERROR);
  }
}

TEST(ExpectedTest, CopiesMovesAndAssignmentsBetweenStates) {
  for (const bool from : {true, false}) {
    const Result source = make(from);
    expect_state(source, from);
    Result copied(source);
    expect_state(copied, from);
    Result moved(make(from));
    expect_state(moved, from);
    for (const bool to : {true, false}) {
      Result assigned = make(to);
      assigned = source;
      expect_state(assigned, from);
      Result move_assigned = make(to);
      move_assigned = make(from);
      expect_state(move_assigned, from);
    }
    Result& alias = copied;
    copied = alias;
    expect_state(copied, from);
    copied = std::move(alias);
    expect_state(copied, from);
  }
}

TEST(ExpectedTest, RvalueAccessMovesThePayloadOut) {
  std::string value = make(true).value();
  EXPECT_EQ(value, VALUE);
  std::vector<std::string> error = make(false).error();
  EXPECT_EQ(error, ERROR);
  Result r = make(true);
  std::string taken = std::move(r).value();
  EXPECT_EQ(taken, VALUE);
  EXPECT_TRUE(r.ok());  // still holds a (moved-from) value
}

}  // namespace
}  // namespace vexlor
