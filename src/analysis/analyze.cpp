#include "analysis/analyze.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "analysis/builtins.hpp"
#include "vm/vm.hpp"

namespace vexlor::analysis {
namespace {

constexpr uint64_t NO_BOUND = ~uint64_t{0};
constexpr size_t MAX_BRANCHING_PROGRAM = 20000;
uint64_t sat_add(uint64_t a, uint64_t b) { return a > NO_BOUND - b ? NO_BOUND : a + b; }

const char* const OVERFLOW_TEXT[] = {"Addition overflow: result out of Decimal range",
                                     "Subtraction overflow: result out of Decimal range",
                                     "Multiplication overflow: result out of Decimal range",
                                     "Division overflow: result out of Decimal range"};
const char* overflow_text(OpKind k) {
  switch (k) {
    case OpKind::Add: return OVERFLOW_TEXT[0];
    case OpKind::Sub: return OVERFLOW_TEXT[1];
    case OpKind::Mul: return OVERFLOW_TEXT[2];
    default: return OVERFLOW_TEXT[3];
  }
}

// Both operands are the same variable's value (so equal in every run).
bool same_var(const Interval* v) { return v[0].var != 0 && v[0].var == v[1].var; }

// x * x: the single product, as the power 2 computes it; its overflow is the product's.
Transfer square(const Interval& x) { return pow(x, Interval::exactly(Decimal::new_(2, 0))); }

// x - x: zero at x's scale (or a zero of either sign).
Transfer difference_with_itself(const Interval& x) {
  Transfer t;
  t.value = Interval::range(Decimal::zero(), Decimal::zero(), x.min_scale, x.max_scale, true);
  return t;
}

bool name_cannot_be_given(const VarId& var) {
  if (!var.is_name()) return false;
  UuidBytes bytes;
  return try_parse_uuid(var.name_text(), bytes);
}

struct State {
  std::vector<Interval> stack;
  uint64_t gas = 0;
  bool live = false;
  // Variables known to lie in a narrower interval on this path (by a branch taken).
  std::vector<std::pair<uint32_t, Interval>> refined;
};

// `var op constant`, var an index + 1 in the analyzer's variable table.
struct Atom {
  uint32_t var;
  int op;
  Decimal constant;
};
// What a truth value tells: when it is non-zero every atom of `when_true` holds,
// when it is zero every atom of `when_false`.
struct Condition {
  std::vector<Atom> when_true, when_false;
};

class Analyzer {
 public:
  Analyzer(const Program& program, std::span<const VarDomain> domains) : program_(program), domains_(domains) {}

  Report run() {
    const size_t n = program_.size();
    bool backward = false, jumps = false;
    for (size_t pc = 0; pc < n; ++pc) {
      const OpKind k = program_[pc].kind();
      if (k == OpKind::Jump || k == OpKind::JumpIfFalse) {
        jumps = true;
        if (program_[pc].target() <= pc) backward = true;
      }
    }
    // Each branch copies the stack: very long programs with jumps (only from
    // JSON) get the coarse analysis instead of a quadratic one.
    if (!backward && jumps && n > MAX_BRANCHING_PROGRAM) shape_conflict_ = true;
    if (!backward && !shape_conflict_) forward();
    if (backward || shape_conflict_) coarse(backward);
    std::stable_sort(report_.failures.begin(), report_.failures.end(),
                     [](const FailureSite& a, const FailureSite& b) { return a.pc < b.pc; });
    return std::move(report_);
  }

 private:
  // Instructions are visited in order, each once: a duplicate can only be among
  // the last entries, those of the same instruction.
  void fail(FailureKind kind, std::string message, size_t pc, bool prefix = false, bool reading = false) {
    for (auto f = report_.failures.rbegin(); f != report_.failures.rend() && f->pc == pc; ++f)
      if (f->kind == kind && f->message == message) return;
    report_.failures.push_back(FailureSite{kind, std::move(message), prefix, pc, reading});
  }
  void warn(const char* kind, std::string message, size_t pc) {
    for (auto w = report_.warnings.rbegin(); w != report_.warnings.rend() && w->pc == pc; ++w)
      if (w->message == message) return;
    report_.warnings.push_back(WarningSite{kind, std::move(message), pc});
  }

  // The variable table: one entry per distinct variable, its domain.
  uint32_t var_index(const OpCode& op) {
    std::string name = op.var().display();
    if (const auto it = var_ids_.find(name); it != var_ids_.end()) return it->second;
    const VarDomain* d = domain_of(name);
    var_domains_.push_back(d != nullptr ? d->value : Interval::any());
    var_given_.push_back(d);
    const auto id = static_cast<uint32_t>(var_domains_.size() - 1);
    var_ids_.emplace(std::move(name), id);
    return id;
  }
  const Interval& current(const State& s, uint32_t var) const {
    for (const auto& [v, iv] : s.refined)
      if (v == var) return iv;
    return var_domains_[var - 1];
  }
  static void set_refined(State& s, uint32_t var, const Interval& iv) {
    for (auto& [v, old] : s.refined)
      if (v == var) {
        old = iv;
        return;
      }
    s.refined.emplace_back(var, iv);
  }

  const VarDomain* domain_of(const std::string& name) {
    if (domain_index_.empty() && !domains_.empty())
      for (const auto& d : domains_) domain_index_.emplace(d.name, &d);  // the first of a name wins
    const auto it = domain_index_.find(name);
    return it == domain_index_.end() ? nullptr : it->second;
  }

  // Merges `s` into the state waiting at `pc`.
  void send(State& s, size_t pc) {
    State& at = incoming_[std::min(pc, program_.size())];
    if (!at.live) {
      at = s;
      return;
    }
    if (at.stack.size() != s.stack.size()) {
      shape_conflict_ = true;
      return;
    }
    for (size_t i = 0; i < s.stack.size(); ++i) at.stack[i] = join(at.stack[i], s.stack[i]);
    at.gas = std::max(at.gas, s.gas);
    std::vector<std::pair<uint32_t, Interval>> kept;
    for (const auto& [v, iv] : at.refined)
      for (const auto& [w, jv] : s.refined)
        if (v == w) kept.emplace_back(v, join(iv, jv));
    at.refined = std::move(kept);
  }

  void forward() {
    const size_t n = program_.size();
    incoming_.assign(n + 1, State{});
    State cur;
    cur.live = true;
    uint64_t max_gas = 0;
    for (size_t pc = 0; pc < n && !shape_conflict_; ++pc) {
      if (incoming_[pc].live) {
        if (cur.live) {
          send(cur, pc);
          if (shape_conflict_) break;
        }
        cur = std::move(incoming_[pc]);
        incoming_[pc] = State{};
      }
      if (!cur.live) continue;
      const OpCode& op = program_[pc];
      uint64_t cost = 1;
      switch (op.kind()) {
        case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div:
        case OpKind::FloorDiv: case OpKind::Mod: case OpKind::Call: cost = 3; break;
        case OpKind::Pow: cost = cur.stack.empty() ? 1 : pow_cost(cur.stack.back()); break;
        default: break;
      }
      cur.gas = sat_add(cur.gas, cost);
      max_gas = std::max(max_gas, cur.gas);
      step(cur, pc, op);
    }
    if (shape_conflict_) return;
    if (cur.live) send(cur, n);
    if (shape_conflict_) return;
    State& end = incoming_[n];
    if (end.live) {
      if (end.stack.size() != 1) {
        fail(FailureKind::RuntimeError, "Runtime error: Invalid stack size at end: " + std::to_string(end.stack.size()),
             END_OF_RUN);
      } else {
        report_.has_result = true;
        report_.result = end.stack[0];
      }
    }
    report_.gas = max_gas;
  }

  bool pop(State& s, size_t count, size_t pc, Interval* out) {
    if (s.stack.size() < count) {
      fail(FailureKind::StackUnderflow, "Stack underflow: not enough values on stack", pc);
      s.live = false;
      return false;
    }
    for (size_t i = 0; i < count; ++i) out[i] = s.stack[s.stack.size() - count + i];
    s.stack.resize(s.stack.size() - count);
    return true;
  }

  void push_transfer(State& s, size_t pc, OpKind k, const Transfer& t) {
    if (t.may_divide_by_zero) fail(FailureKind::DivisionByZero, "Division by zero", pc);
    if (t.may_overflow) {
      if (k == OpKind::Pow)
        fail(FailureKind::Overflow, "Pow overflow: ", pc, true);
      else
        fail(FailureKind::Overflow, overflow_text(k), pc);
    }
    if (t.always_fails) {
      if (t.may_divide_by_zero) warn("zero-divisor", "the divisor is always zero here", pc);
      s.live = false;
      return;
    }
    s.stack.push_back(t.value);
  }

  void step(State& s, size_t pc, const OpCode& op) {
    Interval v[2];
    const OpKind k = op.kind();
    switch (k) {
      case OpKind::PushConst: s.stack.push_back(Interval::exactly(op.constant())); return;
      case OpKind::LoadVar: {
        // From Python such a name is never found (its key reads as a UUID); a
        // caller that builds its context otherwise may still give it, so the
        // path goes on.
        if (name_cannot_be_given(op.var()))
          fail(FailureKind::VariableNotFound, "Variable not found: " + op.var().display(), pc);
        const uint32_t var = var_index(op) + 1;
        const VarDomain* d = var_given_[var - 1];
        if (d != nullptr && !d->read_failure.empty())
          fail(FailureKind::InvalidDecimalConversion, d->read_failure, pc, d->read_failure_is_prefix, true);
        Interval v = current(s, var);
        v.var = var;
        v.cond = 0;
        s.stack.push_back(v);
        return;
      }
      case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div:
      case OpKind::FloorDiv: case OpKind::Mod: case OpKind::Pow: {
        if (!pop(s, 2, pc, v)) return;
        Transfer t;
        switch (k) {
          case OpKind::Add: t = add(v[0], v[1]); break;
          case OpKind::Sub: t = same_var(v) ? difference_with_itself(join(v[0], v[1])) : sub(v[0], v[1]); break;
          case OpKind::Mul: t = same_var(v) ? square(join(v[0], v[1])) : mul(v[0], v[1]); break;
          case OpKind::Div: t = div(v[0], v[1]); break;
          case OpKind::FloorDiv: t = floor_div(v[0], v[1]); break;
          case OpKind::Mod: t = rem(v[0], v[1]); break;
          default: t = pow(v[0], v[1]); break;
        }
        push_transfer(s, pc, k, t);
        return;
      }
      case OpKind::Neg:
      case OpKind::Pos:
        if (!pop(s, 1, pc, v)) return;
        s.stack.push_back(k == OpKind::Neg ? neg(v[0]) : v[0]);
        return;
      case OpKind::Not:
        if (!pop(s, 1, pc, v)) return;
      {
        Interval r = logic_not(v[0]);
        if (!r.is_point() && v[0].cond != 0) {
          const Condition& c = conditions_[v[0].cond - 1];
          r.cond = add_condition(Condition{c.when_false, c.when_true});
        }
        s.stack.push_back(r);
      }
        return;
      case OpKind::And: case OpKind::Or:
        if (!pop(s, 2, pc, v)) return;
      {
        Interval r = k == OpKind::And ? logic_and(v[0], v[1]) : logic_or(v[0], v[1]);
        if (!r.is_point() && (v[0].cond != 0 || v[1].cond != 0)) {
          Condition c;
          auto& into = k == OpKind::And ? c.when_true : c.when_false;
          for (const Interval& x : v)
            if (x.cond != 0) {
              const Condition& part = conditions_[x.cond - 1];
              const auto& from = k == OpKind::And ? part.when_true : part.when_false;
              into.insert(into.end(), from.begin(), from.end());
            }
          r.cond = add_condition(std::move(c));
        }
        s.stack.push_back(r);
      }
        return;
      case OpKind::Eq: case OpKind::Ne: case OpKind::Lt: case OpKind::Le: case OpKind::Gt: case OpKind::Ge:
        if (!pop(s, 2, pc, v)) return;
      {
        Interval r = compare(static_cast<int>(k), v[0], v[1]);
        if (!r.is_point()) {
          if (v[0].var != 0 && v[1].is_point())
            r.cond = add_condition(comparison(v[0].var, static_cast<int>(k), v[1].lo));
          else if (v[1].var != 0 && v[0].is_point())
            r.cond = add_condition(comparison(v[1].var, swapped(static_cast<int>(k)), v[0].lo));
        }
        s.stack.push_back(r);
        return;
      }
      case OpKind::Jump:
        send(s, op.target());
        s.live = false;
        return;
      case OpKind::JumpIfFalse: {
        if (!pop(s, 1, pc, v)) return;
        bool can_false = may_be_false(v[0]), can_true = may_be_true(v[0]);
        const Condition* c = v[0].cond != 0 ? &conditions_[v[0].cond - 1] : nullptr;
        State when_false;
        if (c != nullptr && can_false) {
          when_false = s;
          can_false = narrow(when_false, c->when_false);
        }
        if (c != nullptr && can_true) can_true = narrow(s, c->when_true);
        // Shown at the condition: the instruction that computed it.
        const size_t at = pc > 0 ? pc - 1 : pc;
        if (!can_false) warn("never-taken", "the condition is always true under these domains: its false branch is never taken", at);
        if (!can_true) warn("never-taken", "the condition is always false under these domains: its true branch is never taken", at);
        if (can_false) send(c != nullptr ? when_false : s, op.target());
        if (!can_true) s.live = false;
        return;
      }
      case OpKind::Call: call(s, pc, op); return;
    }
  }

  void call(State& s, size_t pc, const OpCode& op) {
    const size_t n = op.arg_count();
    if (s.stack.size() < n) {
      fail(FailureKind::StackUnderflow, "Stack underflow: not enough values on stack", pc);
      s.live = false;
      return;
    }
    std::vector<Interval> args(s.stack.end() - static_cast<ptrdiff_t>(n), s.stack.end());
    s.stack.resize(s.stack.size() - n);
    const std::string& name = op.call_name();
    const uint8_t slot = function_slot(name);
    if (slot == NO_FUNCTION_SLOT) {
      fail(FailureKind::FunctionNotFound, "Function not found: " + name, pc);
      s.live = false;
      return;
    }
    const CallOutcome out = call_builtin(FUNCTION_SLOT_NAMES[slot], args);
    for (const CallFailure& f : out.failures) fail(f.kind, f.message, pc, f.prefix);
    if (out.value)
      s.stack.push_back(*out.value);
    else
      s.live = false;
  }

  // Programs that jump backwards: no bound on gas or values; every failure an
  // instruction can meet is listed.
  void coarse(bool backward) {
    report_.failures.clear();
    report_.gas.reset();
    if (!backward) {  // each instruction runs at most once
      uint64_t total = 0;
      for (size_t pc = 0; pc < program_.size(); ++pc) {
        const OpCode& op = program_[pc];
        uint64_t cost = 1;
        if (op.kind() == OpKind::Pow)
          cost = pc > 0 && program_[pc - 1].kind() == OpKind::PushConst && !jumped_to(pc)
                     ? pow_cost(Interval::exactly(program_[pc - 1].constant()))
                     : NO_BOUND;
        else if (op.kind() >= OpKind::Add && op.kind() <= OpKind::Mod) cost = 3;
        else if (op.kind() == OpKind::Call) cost = 3;
        total = sat_add(total, cost);
      }
      report_.gas = total;
    }
    report_.has_result = true;
    report_.result = Interval::any();
    const size_t n = program_.size();
    bool loop_listed = false;
    for (size_t pc = 0; pc < n; ++pc) {
      const OpCode& op = program_[pc];
      const OpKind k = op.kind();
      if (k != OpKind::PushConst && k != OpKind::LoadVar && k != OpKind::Jump)
        fail(FailureKind::StackUnderflow, "Stack underflow: not enough values on stack", pc);
      switch (k) {
        case OpKind::LoadVar: {
          if (name_cannot_be_given(op.var())) fail(FailureKind::VariableNotFound, "Variable not found: " + op.var().display(), pc);
          const VarDomain* d = domain_of(op.var().display());
          if (d != nullptr && !d->read_failure.empty())
            fail(FailureKind::InvalidDecimalConversion, d->read_failure, pc, d->read_failure_is_prefix, true);
          break;
        }
        case OpKind::Add: case OpKind::Sub: case OpKind::Mul: fail(FailureKind::Overflow, overflow_text(k), pc); break;
        case OpKind::Div: case OpKind::FloorDiv:
          fail(FailureKind::DivisionByZero, "Division by zero", pc);
          fail(FailureKind::Overflow, overflow_text(k), pc);
          break;
        case OpKind::Mod: fail(FailureKind::DivisionByZero, "Division by zero", pc); break;
        case OpKind::Pow: fail(FailureKind::Overflow, "Pow overflow: ", pc, true); break;
        case OpKind::Call: {
          const uint8_t slot = function_slot(op.call_name());
          if (slot == NO_FUNCTION_SLOT) {
            fail(FailureKind::FunctionNotFound, "Function not found: " + op.call_name(), pc);
            break;
          }
          const std::string_view fn = FUNCTION_SLOT_NAMES[slot];
          const size_t c = op.arg_count();
          if (fn == "add" || fn == "sum" || fn == "average") fail(FailureKind::Overflow, OVERFLOW_TEXT[0], pc);
          if (fn == "mul") fail(FailureKind::Overflow, OVERFLOW_TEXT[2], pc);
          if (fn == "average") fail(FailureKind::Overflow, OVERFLOW_TEXT[3], pc);
          if ((fn == "max" || fn == "min" || fn == "average") && c == 0) fail(FailureKind::InvalidArgumentCount, argument_count_text(1, 0), pc);
          if (fn == "round" && c != 1 && c != 2) fail(FailureKind::InvalidArgumentCount, argument_count_text(1, c), pc);
          if (fn == "round" && c == 2)
            fail(FailureKind::InvalidDecimalConversion, "Invalid Decimal conversion: Cannot convert ", pc, true);
          if ((fn == "sqrt" || fn == "abs" || fn == "floor" || fn == "ceil") && c != 1)
            fail(FailureKind::InvalidArgumentCount, argument_count_text(1, c), pc);
          if (fn == "sqrt")
            fail(FailureKind::RuntimeError, "Runtime error: Cannot calculate square root of negative number: ", pc, true);
          break;
        }
        case OpKind::Jump: case OpKind::JumpIfFalse:
          if (backward && !loop_listed && op.target() <= pc) {
            fail(FailureKind::LoopLimit, std::string("Runtime error: ") + LOOP_LIMIT_MESSAGE, pc);
            loop_listed = true;
          }
          break;
        default: break;
      }
    }
    fail(FailureKind::RuntimeError, "Runtime error: Invalid stack size at end: ", END_OF_RUN, true);
  }

  bool jumped_to(size_t pc) {
    if (targets_.empty()) {
      targets_.assign(program_.size() + 1, false);
      for (const OpCode& op : program_)
        if (op.kind() == OpKind::Jump || op.kind() == OpKind::JumpIfFalse)
          targets_[std::min(op.target(), program_.size())] = true;
    }
    return targets_[pc];
  }

  uint32_t add_condition(Condition c) {
    conditions_.push_back(std::move(c));
    return static_cast<uint32_t>(conditions_.size());
  }
  static Condition comparison(uint32_t var, int op, const Decimal& c) {
    return Condition{{Atom{var, op, c}}, {Atom{var, negated(op), c}}};
  }
  // Narrows the path's variables by the atoms; false when no value is left.
  bool narrow(State& s, const std::vector<Atom>& atoms) {
    for (const Atom& a : atoms) {
      const auto r = restrict(current(s, a.var), a.op, a.constant);
      if (!r) return false;
      set_refined(s, a.var, *r);
    }
    return true;
  }

  const Program& program_;
  std::span<const VarDomain> domains_;
  std::unordered_map<std::string, uint32_t> var_ids_;
  std::vector<Interval> var_domains_;
  std::vector<const VarDomain*> var_given_;
  std::unordered_map<std::string_view, const VarDomain*> domain_index_;
  std::vector<Condition> conditions_;
  std::vector<bool> targets_;
  std::vector<State> incoming_;
  bool shape_conflict_ = false;
  Report report_;
};

}  // namespace

const char* failure_kind_name(FailureKind kind) {
  static const char* const names[] = {"RuntimeError",     "StackUnderflow",           "DivisionByZero",
                                      "InvalidArgumentCount", "VariableNotFound",      "FunctionNotFound",
                                      "InvalidDecimalConversion", "Overflow",           "LoopLimit"};
  return names[static_cast<size_t>(kind)];
}

Report analyze(const Program& program, std::span<const VarDomain> domains) {
  return Analyzer(program, domains).run();
}

std::vector<std::string> program_variables(const Program& program) {
  std::vector<std::string> names;
  for (const OpCode& op : program)
    if (op.kind() == OpKind::LoadVar) names.push_back(op.var().display());
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace vexlor::analysis
