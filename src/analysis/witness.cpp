#include "analysis/witness.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "vm/vm.hpp"

namespace vexlor::analysis {
namespace {

Decimal unit(uint32_t scale) { return Decimal::from_parts(1, 0, scale, false); }

// `v` moved inside the domain's scales, or none when it is not inside.
std::optional<Decimal> fit(Decimal v, const Interval& d) {
  if (v.scale() > d.max_scale) v = v.round_dp(d.max_scale);
  if (v.is_zero() && v.scale() < d.min_scale) v = Decimal::from_parts(0, 0, d.min_scale, v.is_sign_negative());
  if (v.scale() < d.min_scale) {
    const uint32_t k = d.min_scale - v.scale();
    const ArithResult r = mul_impl(v, Decimal::from_parts(POW10_U64[std::min<uint32_t>(k, 19)], 0, k, false));
    if (!r.is_ok() || r.value.scale() != d.min_scale) return std::nullopt;
    v = r.value;
  }
  if (v.is_zero() && v.is_sign_negative() && !d.neg_zero) v = -v;
  if (v.cmp(d.lo) < 0 || v.cmp(d.hi) > 0) return std::nullopt;
  return v;
}

size_t significant_digits(const Decimal& v) {
  std::string digits;
  for (char c : v.to_string())
    if (c >= '0' && c <= '9') digits += c;
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  return digits.find_last_not_of('0') - first + 1;
}

std::vector<Decimal> candidates(const Interval& d, bool float_values, std::span<const Decimal> constants) {
  std::vector<Decimal> raw = {Decimal::one(), d.lo, d.hi, Decimal::zero(), -Decimal::one(), Decimal::new_(2, 0),
                              Decimal::new_(-2, 0), Decimal::new_(10, 0), Decimal::new_(5, 1), unit(d.max_scale),
                              -unit(d.max_scale), Decimal::new_(100, 0)};
  if (d.neg_zero) raw.push_back(-Decimal::zero());
  for (const char* big : {"1000000000000000", "-1000000000000000", "10000000000000000000000",
                          "-10000000000000000000000", "70000000000000000000000000000", "-70000000000000000000000000000"})
    raw.push_back(*Decimal::from_str(big));
  for (const Decimal& lo_or_hi : {d.lo, d.hi}) {
    const auto a = add_impl(lo_or_hi, unit(d.max_scale)), b = sub_impl(lo_or_hi, unit(d.max_scale));
    if (a.is_ok()) raw.push_back(a.value);
    if (b.is_ok()) raw.push_back(b.value);
  }
  if (const auto mid = div_impl(d.hi, Decimal::new_(2, 0)); mid.is_ok())
    if (const auto m = add_impl(mid.value, div_impl(d.lo, Decimal::new_(2, 0)).value); m.is_ok()) raw.push_back(m.value);
  for (const Decimal& c : constants) {
    raw.push_back(c);
    raw.push_back(-c);
    if (const auto r = add_impl(c, Decimal::one()); r.is_ok()) raw.push_back(r.value);
    if (const auto r = sub_impl(c, Decimal::one()); r.is_ok()) raw.push_back(r.value);
  }
  std::vector<Decimal> out;
  for (const Decimal& v : raw) {
    const auto f = fit(v, d);
    if (!f) continue;
    if (float_values && significant_digits(*f) > 15) continue;
    if (std::none_of(out.begin(), out.end(), [&](const Decimal& o) { return o.same_repr(*f); })) out.push_back(*f);
  }
  return out;
}

FailureKind kind_of(const VmError& e) {
  if (e.kind() == VmError::Kind::RuntimeError && e.message() == LOOP_LIMIT_MESSAGE) return FailureKind::LoopLimit;
  return static_cast<FailureKind>(static_cast<uint8_t>(e.kind()));
}

VarId var_of(const std::string& name) {
  UuidBytes bytes;
  if (name.size() == 38 && name.front() == '{' && try_parse_uuid(name, bytes)) return VarId::uuid(bytes);
  return VarId::name(name);
}

}  // namespace

std::string evaluate_message(const VmError& error) {
  switch (error.kind()) {
    case VmError::Kind::DivisionByZero: return "Division by zero";
    case VmError::Kind::Overflow: return error.message();
    default: return error.to_string();
  }
}

std::vector<Witness> find_witnesses(const Program& program, std::span<const std::string> names,
                                                      std::span<const VarDomain> domains,
                                                      std::span<const FailureSite> failures, size_t budget) {
  std::vector<Witness> found(failures.size());
  size_t open = 0;
  for (const auto& f : failures)
    if (!f.from_reading) ++open;
  if (open == 0) return found;

  // A run of a looping program may take the loop guard's whole budget.
  for (size_t pc = 0; pc < program.size(); ++pc) {
    const OpCode& op = program[pc];
    if ((op.kind() == OpKind::Jump || op.kind() == OpKind::JumpIfFalse) && op.target() <= pc)
      budget = std::min<size_t>(budget, 16);
  }
  std::vector<Decimal> constants;
  for (const OpCode& op : program)
    if (op.kind() == OpKind::PushConst && constants.size() < 16) constants.push_back(op.constant());
  const size_t nv = names.size();
  // Each run builds a context of every variable and may run every instruction.
  budget = std::min<size_t>(budget, std::max<size_t>(16, 50'000'000 / (nv + program.size() + 1)));
  std::vector<std::vector<Decimal>> cand(nv);
  std::vector<VarId> ids;
  for (size_t i = 0; i < nv; ++i) {
    Interval d = Interval::any();
    bool float_values = false;
    for (const auto& vd : domains)
      if (vd.name == names[i]) {
        d = vd.value;
        float_values = vd.float_values;
      }
    cand[i] = candidates(d, float_values, constants);
    if (cand[i].empty()) cand[i].push_back(d.lo);
    ids.push_back(var_of(names[i]));
  }

  std::vector<size_t> pick(nv, 0);
  size_t runs = 0;
  auto attempt = [&]() {
    ++runs;
    VmContext ctx;
    for (size_t i = 0; i < nv; ++i) ctx.variables.insert_or_assign(ids[i], cand[i][pick[i]]);
    auto r = run(program, ctx, std::nullopt);
    if (r.ok()) return;
    const VmError& e = r.error();
    const FailureKind k = kind_of(e);
    const std::string msg = evaluate_message(e);
    Witness shared;
    for (size_t f = 0; f < failures.size(); ++f) {
      const FailureSite& site = failures[f];
      if (found[f] || site.from_reading || site.kind != k) continue;
      if (site.prefix ? msg.rfind(site.message, 0) != 0 : msg != site.message) continue;
      if (!shared) {
        auto a = std::make_shared<Assignment>(nv);
        for (size_t i = 0; i < nv; ++i) (*a)[i] = cand[i][pick[i]];
        shared = std::move(a);
      }
      found[f] = shared;
      --open;
    }
  };
  auto done = [&] { return open == 0 || runs >= budget; };

  attempt();  // every variable at its first candidate (1 where allowed)
  for (size_t i = 0; i < nv && !done(); ++i)
    for (size_t j = 1; j < cand[i].size() && !done(); ++j) {
      std::fill(pick.begin(), pick.end(), 0);
      pick[i] = j;
      attempt();
    }
  size_t widest = 0;
  for (const auto& c : cand) widest = std::max(widest, c.size());
  for (size_t j = 1; j < widest && !done(); ++j) {
    for (size_t i = 0; i < nv; ++i) pick[i] = j % cand[i].size();
    attempt();
  }
  uint64_t state = 0x9E3779B97F4A7C15ull;
  while (!done() && nv > 0) {
    for (size_t i = 0; i < nv; ++i) {
      state += 0x9E3779B97F4A7C15ull;
      uint64_t z = state;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      pick[i] = static_cast<size_t>((z ^ (z >> 31)) % cand[i].size());
    }
    attempt();
  }
  return found;
}

}  // namespace vexlor::analysis
