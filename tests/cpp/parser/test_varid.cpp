#include <gtest/gtest.h>

#include <string>
#include <unordered_map>

#include "parser/varid.hpp"

namespace vexlor {
namespace {

const UuidBytes SAMPLE = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                          0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};

TEST(VarIdTest, DisplayText) {
  EXPECT_EQ(VarId::name("alpha_1").display(), "alpha_1");
  const std::string shown = VarId::uuid(SAMPLE).display();
  EXPECT_EQ(shown, "{123e4567-e89b-12d3-a456-426614174000}");
  EXPECT_EQ(shown.size(), 38u);
  EXPECT_EQ(uuid_hyphenated(SAMPLE), "123e4567-e89b-12d3-a456-426614174000");
}

TEST(VarIdTest, Equality) {
  EXPECT_EQ(VarId::name("a"), VarId::name("a"));
  EXPECT_NE(VarId::name("a"), VarId::name("A"));
  EXPECT_EQ(VarId::uuid(SAMPLE), VarId::uuid(SAMPLE));
  UuidBytes other = SAMPLE;
  other[15] = 1;
  EXPECT_NE(VarId::uuid(SAMPLE), VarId::uuid(other));
  // A name spelling a UUID never equals the UUID.
  EXPECT_NE(VarId::name("123e4567-e89b-12d3-a456-426614174000"), VarId::uuid(SAMPLE));
  EXPECT_NE(VarId::name("{123e4567-e89b-12d3-a456-426614174000}"), VarId::uuid(SAMPLE));
  EXPECT_EQ(VarId::uuid(SAMPLE).kind(), VarId::Kind::Uuid);
  EXPECT_EQ(VarId::name("x").kind(), VarId::Kind::Name);
}

TEST(VarIdTest, HashFollowsEquality) {
  EXPECT_EQ(VarId::name("abc").hash(), VarId::name(std::string("abc")).hash());
  EXPECT_EQ(VarId::uuid(SAMPLE).hash(), VarId::uuid(*parse_uuid("123E4567E89B12D3A456426614174000")).hash());
  std::unordered_map<VarId, int, VarIdHash> map;
  map[VarId::name("x")] = 1;
  map[VarId::name("X")] = 2;
  map[VarId::uuid(SAMPLE)] = 3;
  map[VarId::name("x")] = 4;
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.at(VarId::name("x")), 4);
  EXPECT_EQ(map.at(VarId::uuid(SAMPLE)), 3);
  std::unordered_map<VarId, int> std_hashed{{VarId::name("y"), 5}};
  EXPECT_EQ(std_hashed.at(VarId::name("y")), 5);
}

// Every byte of a name counts, whatever the length: changing any one byte, or
// the length, changes the hash (a collision among these few would be chance).
TEST(VarIdTest, HashSeesEveryByte) {
  for (size_t length = 0; length <= 24; ++length) {
    const std::string base(length, 'a');
    const uint64_t base_hash = VarId::name(base).hash();
    EXPECT_NE(base_hash, VarId::name(base + "a").hash()) << length;
    for (size_t i = 0; i < length; ++i) {
      std::string changed = base;
      changed[i] = 'b';
      EXPECT_NE(base_hash, VarId::name(changed).hash()) << length << " " << i;
    }
  }
}

TEST(VarIdTest, ParsesAllShapesAndCases) {
  const char* texts[] = {
      "123e4567e89b12d3a456426614174000",
      "123E4567E89B12D3A456426614174000",
      "123e4567-e89b-12d3-a456-426614174000",
      "123E4567-E89B-12D3-A456-426614174000",
      "123e4567-E89b-12d3-A456-426614174000",
      "{123e4567-e89b-12d3-a456-426614174000}",
      "{123E4567-E89B-12D3-A456-426614174000}",
      "urn:uuid:123e4567-e89b-12d3-a456-426614174000",
      "urn:uuid:123E4567-E89B-12D3-A456-426614174000",
  };
  for (const char* text : texts) {
    const auto parsed = parse_uuid(text);
    ASSERT_TRUE(parsed.ok()) << text;
    EXPECT_EQ(*parsed, SAMPLE) << text;
    UuidBytes fast{};
    EXPECT_TRUE(try_parse_uuid(text, fast)) << text;
    EXPECT_EQ(fast, SAMPLE);
    EXPECT_EQ(VarId::uuid(*parsed).display(), "{123e4567-e89b-12d3-a456-426614174000}");
  }
  EXPECT_EQ(*parse_uuid("00000000-0000-0000-0000-000000000000"), UuidBytes{});
  EXPECT_EQ(uuid_hyphenated(*parse_uuid("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF")), "ffffffff-ffff-ffff-ffff-ffffffffffff");
}

TEST(VarIdTest, FailureReasons) {
  struct Case {
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {"", "invalid length: expected length 32 for simple format, found 0"},
      {"123", "invalid length: expected length 32 for simple format, found 3"},
      {"123e4567e89b12d3a45642661417400", "invalid length: expected length 32 for simple format, found 31"},
      {"123e4567e89b12d3a456426614174000X", "invalid character: found `X` at 32"},
      {"g23e4567-e89b-12d3-a456-426614174000", "invalid character: found `g` at 0"},
      {"{g23e4567-e89b-12d3-a456-426614174000}", "invalid character: found `g` at 1"},
      {"urn:uuid:123e4567-e89b-12d3-a456-42661417400z", "invalid character: found `z` at 44"},
      {"123e4567-e89b-12d3-a456-426614174000}", "invalid character: found `}` at 36"},
      {"{123e4567-e89b-12d3-a456-426614174000", "invalid character: found `{` at 0"},
      {"123e 4567", "invalid character: found ` ` at 4"},
      {"\xc3\xa9", "invalid character: found `\xc3\xa9` at 0"},
      {"123e4567-e89b-12d3-a456", "invalid group count: expected 5, found 4"},
      {"123e4567-e89b-12d3-a456-4266-14174000", "invalid group count: expected 5, found 6"},
      {"-", "invalid group count: expected 5, found 2"},
      {"123e456-7e89b-12d3-a456-426614174000", "invalid group length in group 1: expected 8, found 7"},
      {"123e4567-e89-b12d3-a456-426614174000", "invalid group length in group 2: expected 4, found 3"},
      {"123e4567-e89b-12d3-a456-42661417400", "invalid group length in group 5: expected 12, found 11"},
      {"{123e4567-e89b-12d3-a456-4266141740001}", "invalid group length in group 5: expected 12, found 13"},
      {"{123e4567e89b12d3a456426614174000}", "failed to parse a UUID"},
      {"urn:uuid:123e4567e89b12d3a456426614174000", "failed to parse a UUID"},
  };
  for (const Case& c : cases) {
    const auto parsed = parse_uuid(c.text);
    ASSERT_FALSE(parsed.ok()) << c.text;
    EXPECT_EQ(parsed.error(), c.reason) << c.text;
    UuidBytes unused{};
    EXPECT_FALSE(try_parse_uuid(c.text, unused)) << c.text;
  }
}

TEST(VarIdTest, CopiesOwnTheirText) {
  VarId a = VarId::name("shared");
  VarId b = a;
  a = VarId::name("changed");
  EXPECT_EQ(b.name_text(), "shared");
  EXPECT_EQ(a.name_text(), "changed");
}

}  // namespace
}  // namespace vexlor
