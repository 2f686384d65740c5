#pragma once
// Helpers shared by the vm tests.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "vm/vm.hpp"

namespace vexlor::test {

inline Decimal D(std::string_view text) {
  auto d = Decimal::from_str(text);
  EXPECT_TRUE(d.ok()) << text;
  return d.ok() ? *d : Decimal();
}

inline OpCode C(std::string_view text) { return OpCode::push_const(D(text)); }
inline OpCode V(std::string_view name) { return OpCode::load_var(VarId::name(name)); }
inline OpCode K(OpKind kind) { return OpCode(kind); }

// "ok:<text>" for a value, "err:<text form>" for an error.
inline std::string outcome(const Expected<Decimal, VmError>& r) {
  return r.ok() ? "ok:" + r.value().to_string() : "err:" + r.error().to_string();
}

}  // namespace vexlor::test
