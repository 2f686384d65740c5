// The variable map against a plain reference map: random insertions, replacements,
// reservations, moves and clears; every look-up path (by VarId, by LoadVar operand,
// through a run) gives the reference's answer, and the keys of a small map sit in
// their own buckets.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "vm_test_util.hpp"

namespace vexlor {
namespace {

using test::D;

// A pool of keys of every shape: short and long names (up to 16 bytes the packed
// form decides, beyond it the text is compared), names sharing their first 16
// bytes, UUIDs, and a UUID and a name that look alike.
std::vector<VarId> key_pool() {
  std::vector<VarId> keys;
  const char* names[] = {"a", "b", "c", "d", "e", "f", "x", "y", "ab", "ba", "price", "price_1", "price_2",
                         "sixteen_chars_ab", "sixteen_chars_ac", "seventeen_chars_a", "seventeen_chars_b",
                         "a_much_longer_variable_name_1", "a_much_longer_variable_name_2", "_", "Z9"};
  for (const char* n : names) keys.push_back(VarId::name(n));
  for (uint8_t i = 0; i < 6; ++i) {
    UuidBytes u{};
    u[0] = i;
    u[15] = static_cast<uint8_t>(0xA0 + i);
    keys.push_back(VarId::uuid(u));
  }
  UuidBytes text_like{};
  text_like[0] = 'a';
  keys.push_back(VarId::uuid(text_like));
  return keys;
}

std::string expect_found(const VariableMap& m, const VarId& key, const Decimal* want) {
  const Decimal* by_key = m.find(key);
  const OpCode op = OpCode::load_var(key);
  const Decimal* by_operand = m.find(op.var_operand(), op.var_hash());
  if (by_key != by_operand) return "paths disagree for " + key.display();
  if ((by_key == nullptr) != (want == nullptr)) return "presence differs for " + key.display();
  if (want != nullptr && !by_key->same_repr(*want)) return "value differs for " + key.display();
  return "";
}

void check_against(const VariableMap& m, const std::vector<VarId>& pool, const std::map<size_t, Decimal>& ref) {
  ASSERT_EQ(m.size(), ref.size());
  for (size_t k = 0; k < pool.size(); ++k) {
    const auto it = ref.find(k);
    ASSERT_EQ(expect_found(m, pool[k], it == ref.end() ? nullptr : &it->second), "");
  }
  // Keys of a map this small each have a bucket of their own (all multipliers
  // failing has odds of about 1e-14).
  EXPECT_EQ(m.small_keys_away(), 0u);
  // The order of insertion is kept.
  std::vector<std::string> seen;
  m.for_each([&](const VarId& key, const Decimal&) { seen.push_back(key.display()); });
  EXPECT_EQ(seen.size(), ref.size());
}

TEST(VariableMapRandomTest, MatchesReferenceMap) {
  const std::vector<VarId> pool = key_pool();
  std::mt19937_64 rng(20261208);
  for (int round = 0; round < 3000; ++round) {
    VariableMap m;
    std::map<size_t, Decimal> ref;
    std::vector<size_t> order;  // insertion order of the reference keys
    const int steps = static_cast<int>(rng() % 24);
    for (int s = 0; s < steps; ++s) {
      const size_t k = rng() % pool.size();
      const Decimal value = Decimal::from_parts(static_cast<uint32_t>(rng()), 0, static_cast<uint32_t>(rng() % 5),
                                                (rng() & 1) != 0);
      switch (rng() % 10) {
        case 0:
          m.reserve(rng() % 20);
          break;
        case 1: {
          VariableMap moved(std::move(m));
          EXPECT_TRUE(m.empty());
          m = std::move(moved);
          break;
        }
        case 2:
          if (rng() % 4 == 0) {
            m.clear();
            ref.clear();
          }
          break;
        case 3:
          if (pool[k].is_name()) {
            if (ref.count(k) == 0 && rng() % 2 == 0) {
              m.insert_new_name(pool[k].name_text(), value);
            } else {
              m.insert_or_assign_name(pool[k].name_text(), value);
            }
            ref[k] = value;
            break;
          }
          [[fallthrough]];
        default:
          m.insert_or_assign(pool[k], value);
          ref[k] = value;
          break;
      }
    }
    check_against(m, pool, ref);
    if (HasFatalFailure()) return;
  }
}

// Small maps built in every way the Python layer builds them (reserve first, or
// not) find each key through a run, and report an absent one by name.
TEST(VariableMapRandomTest, RunsFindSmallMapKeys) {
  const std::vector<VarId> pool = key_pool();
  std::mt19937_64 rng(7);
  for (int round = 0; round < 500; ++round) {
    VmContext ctx;
    const size_t count = 1 + rng() % VariableMap::SMALL;
    if (rng() & 1) ctx.variables.reserve(count + rng() % 10);
    std::vector<size_t> chosen;
    while (chosen.size() < count) {
      const size_t k = rng() % pool.size();
      if (std::find(chosen.begin(), chosen.end(), k) == chosen.end()) chosen.push_back(k);
    }
    for (size_t i = 0; i < count; ++i) ctx.variables.insert_or_assign(pool[chosen[i]], D(std::to_string(i)));
    EXPECT_EQ(ctx.variables.small_keys_away(), 0u);
    for (size_t k = 0; k < pool.size(); ++k) {
      const auto pos = std::find(chosen.begin(), chosen.end(), k);
      const std::string want = pos == chosen.end()
                                   ? "err:Variable not found: " + pool[k].display()
                                   : "ok:" + std::to_string(pos - chosen.begin());
      EXPECT_EQ(test::outcome(run(Program{OpCode::load_var(pool[k])}, ctx, std::nullopt)), want);
    }
  }
}

// A map reserved for many entries keeps its first ones inline and still finds
// every key as it grows past them.
TEST(VariableMapTest, ReserveThenGrowPastInline) {
  VariableMap m;
  m.reserve(40);
  for (int i = 0; i < 40; ++i) {
    m.insert_or_assign(VarId::name("k" + std::to_string(i)), D(std::to_string(i)));
    for (int j = 0; j <= i; ++j) {
      const Decimal* v = m.find(VarId::name("k" + std::to_string(j)));
      ASSERT_NE(v, nullptr) << i << " " << j;
      EXPECT_EQ(v->to_string(), std::to_string(j));
    }
    EXPECT_EQ(m.find(VarId::name("k" + std::to_string(i + 1))), nullptr);
  }
  m.reserve(100);
  EXPECT_EQ(m.find(VarId::name("k39"))->to_string(), "39");
}

}  // namespace
}  // namespace vexlor
