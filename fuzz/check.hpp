#pragma once
// Shared helpers of the decimal fuzz targets: invariant checks that print the
// offending values and abort, so libFuzzer records the input as a crash.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "decimal/decimal.hpp"

namespace fuzzcheck {

inline std::string show(const vexlor::Decimal& d) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s [flags %08x hi %08x lo %016llx]", d.to_string().c_str(), d.flags(), d.hi(),
                static_cast<unsigned long long>(d.lo()));
  return buf;
}

[[noreturn]] inline void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant violated: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// Only the sign bit and a scale of at most 28 may be set in the flags word.
inline bool valid(const vexlor::Decimal& d) {
  const uint32_t stray = d.flags() & ~(vexlor::Decimal::SIGN_BIT | (0xFFu << vexlor::Decimal::SCALE_SHIFT));
  return stray == 0 && d.scale() <= vexlor::MAX_SCALE;
}

inline void require_valid(const vexlor::Decimal& d, const char* what, const std::string& inputs) {
  if (!valid(d)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "flags %08x", d.flags());
    fail(what, inputs + " -> " + buf);
  }
}

}  // namespace fuzzcheck
