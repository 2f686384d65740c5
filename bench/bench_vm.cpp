// The execution loop against the same decimal operations called directly.
// Each scenario comes in four benchmarks: "<scenario>/direct" and
// "<scenario>/direct_plain" (the decimal operations in plain C++ on values held in
// locals, see `take`), "<scenario>/vm" (run without
// a gas limit, variables looked up in a context) and "<scenario>/vm_gas" (run with
// a gas limit large enough to finish). Ratios: vm / direct is the machine's
// overhead, vm_gas / vm the cost of metering.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "vm/vm.hpp"

namespace {

using namespace vexlor;

Decimal dec(std::string_view text) {
  auto d = Decimal::from_str(text);
  if (!d.ok()) std::abort();
  return *d;
}

OpCode C(std::string_view text) { return OpCode::push_const(dec(text)); }
OpCode V(const char* name) { return OpCode::load_var(VarId::name(name)); }
OpCode K(OpKind kind) { return OpCode(kind); }

// "direct" reads results field by field, as the machine does (see
// src/vm/values.hpp); "direct_plain" copies `.value` as a whole, which stalls on
// the store buffer because the operations write a result's words one by one.
bool g_plain = false;
Decimal take(const ArithResult& r) {
  if (g_plain) return r.value;
  return Decimal::from_parts(r.value.lo(), r.value.hi(), r.value.scale(), r.value.is_sign_negative());
}
Decimal add(const Decimal& a, const Decimal& b) { return take(add_impl(a, b)); }
Decimal sub(const Decimal& a, const Decimal& b) { return take(sub_impl(a, b)); }
Decimal mul(const Decimal& a, const Decimal& b) { return take(mul_impl(a, b)); }
Decimal div(const Decimal& a, const Decimal& b) { return take(div_impl(a, b)); }

struct Vars {
  Decimal a = dec("1.5"), b = dec("2.25"), c = dec("3"), d = dec("4.75"), e = dec("0.5"), f = dec("10");
};

VmContext make_context(const Vars& v) {
  VmContext ctx;
  const char* names[] = {"a", "b", "c", "d", "e", "f"};
  const Decimal values[] = {v.a, v.b, v.c, v.d, v.e, v.f};
  for (int i = 0; i < 6; ++i) ctx.variables.insert_or_assign(VarId::name(names[i]), values[i]);
  return ctx;
}

// a + b * 2
const Decimal TWO = dec("2"), THREE = dec("3"), FIVE = dec("5"), ONE = dec("1");
Decimal direct_simple(const Vars& v) { return add(v.a, mul(v.b, TWO)); }
Program program_simple() { return {V("a"), V("b"), C("2"), K(OpKind::Mul), K(OpKind::Add)}; }

// 30 operators over six variables.
Decimal direct_formula(const Vars& v) {
  const Decimal t5 = add(mul(add(v.a, v.b), sub(v.c, v.d)), mul(v.e, v.f));
  const Decimal t9 = sub(t5, div(mul(v.a, v.b), add(v.c, TWO)));
  const Decimal t15 = add(mul(t9, sub(v.d, v.e)), mul(add(v.f, v.a), sub(v.b, v.c)));
  const Decimal t20 = sub(t15, div(add(mul(v.d, v.e), v.f), add(v.a, THREE)));
  const Decimal t25 = add(sub(add(t20, mul(v.b, v.c)), v.e), mul(v.f, TWO));
  return add(sub(t25, div(v.a, FIVE)), sub(mul(v.c, v.d), v.b));
}
Program program_formula() {
  return {V("a"), V("b"), K(OpKind::Add), V("c"), V("d"), K(OpKind::Sub), K(OpKind::Mul), V("e"), V("f"),
          K(OpKind::Mul), K(OpKind::Add),                                                  // t5
          V("a"), V("b"), K(OpKind::Mul), V("c"), C("2"), K(OpKind::Add), K(OpKind::Div),  //
          K(OpKind::Sub),                                                                  // t9
          V("d"), V("e"), K(OpKind::Sub), K(OpKind::Mul), V("f"), V("a"), K(OpKind::Add), V("b"), V("c"),
          K(OpKind::Sub), K(OpKind::Mul), K(OpKind::Add),  // t15
          V("d"), V("e"), K(OpKind::Mul), V("f"), K(OpKind::Add), V("a"), C("3"), K(OpKind::Add), K(OpKind::Div),
          K(OpKind::Sub),                                                               // t20
          V("b"), V("c"), K(OpKind::Mul), K(OpKind::Add), V("e"), K(OpKind::Sub), V("f"), C("2"), K(OpKind::Mul),
          K(OpKind::Add),                                                               // t25
          V("a"), C("5"), K(OpKind::Div), K(OpKind::Sub), V("c"), V("d"), K(OpKind::Mul), V("b"), K(OpKind::Sub),
          K(OpKind::Add)};
}

// a > b ? a * 2 : b - 1 (both ways, alternating by swapping a and b).
Decimal direct_ternary(const Vars& v) { return v.a.cmp(v.b) > 0 ? mul(v.a, TWO) : sub(v.b, ONE); }
Program program_ternary() {
  return {V("a"), V("b"), K(OpKind::Gt), OpCode::jump_if_false(8), V("a"), C("2"), K(OpKind::Mul),
          OpCode::jump(11), V("b"), C("1"), K(OpKind::Sub)};
}

// max(a, b, c) + round(d, 1) + average(e, f)
Decimal direct_calls(const Vars& v) {
  Decimal m = v.a;
  if (m.cmp(v.b) <= 0) m = v.b;
  if (m.cmp(v.c) <= 0) m = v.c;
  const Decimal r = v.d.round_dp(1);
  const Decimal avg = div(add(add(Decimal(), v.e), v.f), TWO);
  return add(add(m, r), avg);
}
Program program_calls() {
  return {V("a"), V("b"), V("c"), OpCode::call("max", 3), V("d"), C("1"), OpCode::call("round", 2),
          K(OpKind::Add), V("e"), V("f"), OpCode::call("average", 2), K(OpKind::Add)};
}

// The fixed cost of a run: one constant, one variable.
Decimal direct_const(const Vars&) { return TWO; }
Program program_const() { return {C("2")}; }
Decimal direct_load(const Vars& v) { return v.b; }
Program program_load() { return {V("b")}; }

using DirectFn = Decimal (*)(const Vars&);

struct Scenario {
  const char* name;
  DirectFn direct;
  Program (*program)();
};

const Scenario SCENARIOS[] = {
    {"simple", direct_simple, program_simple},
    {"formula30", direct_formula, program_formula},
    {"ternary", direct_ternary, program_ternary},
    {"calls", direct_calls, program_calls},
    {"const", direct_const, program_const},
    {"load", direct_load, program_load},
};

void check_agreement() {
  const Vars v;
  const VmContext ctx = make_context(v);
  for (const Scenario& s : SCENARIOS) {
    const auto r = run(s.program(), ctx, std::nullopt);
    if (!r.ok() || !r.value().same_repr(s.direct(v))) {
      std::fprintf(stderr, "%s: vm and direct disagree\n", s.name);
      std::abort();
    }
  }
}

void bench_direct(benchmark::State& state, DirectFn fn, bool plain) {
  g_plain = plain;
  Vars v;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    Decimal r = fn(v);
    benchmark::DoNotOptimize(r);
  }
}

void bench_vm(benchmark::State& state, Program (*make)(), bool gas) {
  const Vars v;
  const VmContext ctx = make_context(v);
  const Program program = make();
  const std::optional<uint64_t> limit = gas ? std::optional<uint64_t>(1'000'000) : std::nullopt;
  for (auto _ : state) {
    auto r = run(program, ctx, limit);
    benchmark::DoNotOptimize(r);
  }
}

int register_all() {
  check_agreement();
  for (const Scenario& s : SCENARIOS) {
    const std::string base = s.name;
    benchmark::RegisterBenchmark((base + "/direct").c_str(), bench_direct, s.direct, false);
    benchmark::RegisterBenchmark((base + "/direct_plain").c_str(), bench_direct, s.direct, true);
    benchmark::RegisterBenchmark((base + "/vm").c_str(), bench_vm, s.program, false);
    benchmark::RegisterBenchmark((base + "/vm_gas").c_str(), bench_vm, s.program, true);
  }
  return 0;
}

const int registered = register_all();

}  // namespace

BENCHMARK_MAIN();
