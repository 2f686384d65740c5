// Fuzzes the static analysis on programs read from bytecode JSON: it must end
// on every program, and on programs it bounds (no backward jump), a run with
// arbitrary inputs must stay within the gas bound and fail only as listed.
// Input: one byte choosing the variables' values, then the JSON text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/analyze.hpp"
#include "analysis/witness.hpp"
#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, const std::string& detail) {
  std::fprintf(stderr, "invariant violated: %s\ninput: %.*s\ndetail: %s\n", what,
               static_cast<int>(std::min<size_t>(text.size(), 300)), text.data(), detail.c_str());
  std::abort();
}

const char* const VALUES[] = {"0", "1", "-1", "2.5", "-0.001", "79228162514264337593543950335", "1000000", "7"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t pick = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  auto program = vexlor::read_json(text);
  if (!program.ok()) return 0;
  using namespace vexlor::analysis;
  const Report report = analyze(*program, {});
  // Backward jumps: nothing bounded to check. A bound saturated at the largest
  // u64 is a Pow whose cost no gas limit covers.
  if (!report.gas || *report.gas == ~uint64_t{0}) return 0;

  vexlor::VmContext ctx;
  size_t i = 0;
  for (const std::string& name : program_variables(*program)) {
    const auto v = *vexlor::Decimal::from_str(VALUES[(pick >> (i++ % 6)) % 8]);
    vexlor::UuidBytes bytes;
    if (name.size() == 38 && name.front() == '{' && vexlor::try_parse_uuid(name, bytes))
      ctx.variables.insert_or_assign(vexlor::VarId::uuid(bytes), v);
    else
      ctx.variables.insert_or_assign(vexlor::VarId::name(name), v);
  }
  const uint64_t limit = *report.gas;
  uint64_t used = 0;
  auto out = vexlor::run(*program, ctx, limit, &used);
  if (!out.ok()) {
    const auto& e = out.error();
    if (e.kind() == vexlor::VmError::Kind::OutOfGas) fail("gas bound exceeded", text, e.to_string());
    const std::string msg = evaluate_message(e);
    bool listed = false;
    for (const auto& f : report.failures)
      if (static_cast<uint8_t>(f.kind) == static_cast<uint8_t>(e.kind()) &&
          (f.prefix ? msg.rfind(f.message, 0) == 0 : msg == f.message))
        listed = true;
    if (!listed) fail("failure not listed", text, e.to_string());
  } else if (report.has_result) {
    const auto& v = out.value();
    if (v.cmp(report.result.lo) < 0 || v.cmp(report.result.hi) > 0) fail("result outside its interval", text, v.to_string());
  } else {
    fail("a result where none was possible", text, out.value().to_string());
  }
  return 0;
}
