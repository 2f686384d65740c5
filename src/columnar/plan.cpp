// The plan of the vectorised path: the program's instructions as steps over
// blocks, with the gas each step stands for (see fast.hpp).

#include <algorithm>

#include "columnar/fast.hpp"

namespace vexlor::columnar::fast {
namespace {

struct Frame {
  size_t else_at, end, height;
  bool in_else = false;
};

Op binary_op(OpKind k) {
  switch (k) {
    case OpKind::Add: return Op::Add;
    case OpKind::Sub: return Op::Sub;
    case OpKind::Mul: return Op::Mul;
    case OpKind::Div: return Op::Div;
    case OpKind::FloorDiv: return Op::FloorDiv;
    case OpKind::Mod: return Op::Mod;
    case OpKind::Pow: return Op::Pow;
    case OpKind::And: return Op::And;
    case OpKind::Or: return Op::Or;
    case OpKind::Eq: return Op::Eq;
    case OpKind::Ne: return Op::Ne;
    case OpKind::Lt: return Op::Lt;
    case OpKind::Le: return Op::Le;
    case OpKind::Gt: return Op::Gt;
    default: return Op::Ge;
  }
}

// Gas of an instruction; a power's cost is its exponent's, counted per row.
uint32_t cost_of(OpKind k) {
  switch (k) {
    case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div: case OpKind::FloorDiv:
    case OpKind::Mod: case OpKind::Call:
      return 3;
    case OpKind::Pow:
      return 0;
    default:
      return 1;
  }
}

Step step_of(Op op, int32_t arg = 0, Fn fn = Fn::Add, uint32_t cost = 0) {
  Step s;
  s.op = op;
  s.arg = arg;
  s.fn = fn;
  s.cost = cost;
  return s;
}

}  // namespace

std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::span<const Constant> constants,
                              std::optional<uint64_t> gas) {
  const size_t n = program.size();
  if (n == 0) return std::nullopt;
  Plan plan;
  std::vector<Frame> frames;
  size_t height = 0;
  uint64_t total = 0;  // every instruction's cost: no path costs more
  bool powers = false;
  // A branch may not take values from below its condition (which the plan
  // keeps on the stack until the Select, where the machine drops it).
  auto need = [&](size_t k) {
    return height >= k + (frames.empty() ? 0 : frames.back().height + (frames.back().in_else ? 1 : 0));
  };
  for (size_t pc = 0; pc <= n; ++pc) {
    while (!frames.empty() && frames.back().end == pc) {
      if (!frames.back().in_else || height != frames.back().height + 2) return std::nullopt;
      plan.steps.push_back(step_of(Op::Select));
      height = frames.back().height;
      frames.pop_back();
    }
    if (pc == n) break;
    const OpCode& op = program[pc];
    const uint32_t cost = cost_of(op.kind());
    total += cost;
    switch (op.kind()) {
      case OpKind::PushConst: {
        Step s = step_of(Op::Const);
        s.cost = cost;
        s.constant = op.constant();
        plan.steps.push_back(s);
        ++height;
        break;
      }
      case OpKind::LoadVar: {
        const auto it = std::find(vars.begin(), vars.end(), op.var());
        if (it != vars.end()) {
          plan.steps.push_back(step_of(Op::Load, static_cast<int32_t>(it - vars.begin()), Fn::Add, cost));
        } else {
          const auto c = std::find_if(constants.begin(), constants.end(), [&](const Constant& k) { return k.var == op.var(); });
          if (c == constants.end()) return std::nullopt;
          Step s = step_of(Op::Const);
          s.cost = cost;
          s.constant = c->value;
          plan.steps.push_back(s);
        }
        ++height;
        break;
      }
      case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div: case OpKind::FloorDiv:
      case OpKind::Mod: case OpKind::Pow: case OpKind::And: case OpKind::Or: case OpKind::Eq: case OpKind::Ne:
      case OpKind::Lt: case OpKind::Le: case OpKind::Gt: case OpKind::Ge:
        if (!need(2)) return std::nullopt;
        powers |= op.kind() == OpKind::Pow;
        plan.steps.push_back(step_of(binary_op(op.kind()), 0, Fn::Add, cost));
        --height;
        break;
      case OpKind::Neg: case OpKind::Not:
        if (!need(1)) return std::nullopt;
        plan.steps.push_back(step_of(op.kind() == OpKind::Neg ? Op::Neg : Op::Not, 0, Fn::Add, cost));
        break;
      case OpKind::Pos:
        if (!need(1)) return std::nullopt;
        plan.steps.back().cost += cost;  // charged with the value it leaves as it is
        break;
      case OpKind::Call: {
        const size_t args = op.arg_count();
        const uint8_t slot = op.call_slot();
        if (args == 0 || !need(args) || args > 64 || slot >= FUNCTION_SLOT_COUNT) return std::nullopt;
        const Fn fn = static_cast<Fn>(slot);
        const Step& last = plan.steps.back();
        const bool places = fn == Fn::Round && args == 2 && last.op == Op::Const && last.constant.scale() == 0 &&
                            last.constant.hi() == 0 && last.constant.lo() <= 28 &&
                            (!last.constant.is_sign_negative() || last.constant.is_zero()) &&
                            (frames.empty() || pc - 1 != frames.back().else_at);
        if (places) {
          plan.steps.back() = step_of(Op::Round, static_cast<int32_t>(last.constant.lo()), Fn::Round, last.cost + cost);
        } else if ((fn == Fn::Max || fn == Fn::Min) && args <= 16) {
          plan.steps.push_back(step_of(fn == Fn::Max ? Op::Max : Op::Min, static_cast<int32_t>(args), fn, cost));
        } else if ((fn == Fn::Abs || fn == Fn::Round) && args == 1) {
          plan.steps.push_back(step_of(fn == Fn::Abs ? Op::Abs : Op::Round, 0, fn, cost));
        } else {
          plan.steps.push_back(step_of(Op::Call, static_cast<int32_t>(args), fn, cost));
        }
        height -= args - 1;
        break;
      }
      case OpKind::JumpIfFalse: {
        const size_t t = op.target();
        if (!need(1) || t <= pc + 1 || t >= n || program[t - 1].kind() != OpKind::Jump) return std::nullopt;
        const size_t u = program[t - 1].target();
        if (u < t || u > n) return std::nullopt;
        if (!frames.empty() && u > (frames.back().in_else ? frames.back().end : frames.back().else_at - 1)) {
          return std::nullopt;
        }
        plan.steps.back().cost += cost;  // charged with the condition
        frames.push_back({t, u, height});  // the condition stays on the stack for the Select
        break;
      }
      case OpKind::Jump:
        if (frames.empty() || frames.back().in_else || frames.back().else_at != pc + 1 ||
            height != frames.back().height + 1) {
          return std::nullopt;
        }
        plan.steps.back().cost += cost;  // charged with the first branch's value
        frames.back().in_else = true;
        break;
      default:
        return std::nullopt;
    }
    plan.depth = std::max(plan.depth, height);
  }
  if (!frames.empty() || height != 1) return std::nullopt;
  plan.metered = gas && (total > *gas || powers);
  plan.gas_limit = gas.value_or(0);
  return plan;
}

}  // namespace vexlor::columnar::fast
