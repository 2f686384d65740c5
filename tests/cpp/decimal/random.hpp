#pragma once
// A small seeded generator (splitmix64) for the randomised decimal tests: the
// same seed gives the same cases on every machine.

#include <cstdint>

namespace vexlor::testing {

class Rng {
 public:
  explicit Rng(uint64_t seed = 0x243f6a8885a308d3ull) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }  // n > 0

 private:
  uint64_t state_;
};

}  // namespace vexlor::testing
