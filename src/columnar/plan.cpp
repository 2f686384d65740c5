// The plan of the vectorised path: which programs it covers (see fast.hpp).

#include <algorithm>

#include "columnar/fast.hpp"

namespace vexlor::columnar::fast {
namespace {

uint64_t cost_of(OpKind k) {
  switch (k) {
    case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div: case OpKind::FloorDiv:
    case OpKind::Mod: case OpKind::Call:
      return 3;
    default:
      return 1;
  }
}

struct Frame {
  size_t else_at, end, height;
  bool in_else = false;
};

}  // namespace

std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::optional<uint64_t> gas) {
  const size_t n = program.size();
  if (n == 0) return std::nullopt;
  Plan plan;
  std::vector<Frame> frames;
  size_t height = 0;
  uint64_t cost = 0;
  auto need = [&](size_t k) { return height >= k; };
  for (size_t pc = 0; pc <= n; ++pc) {
    while (!frames.empty() && frames.back().end == pc) {
      if (!frames.back().in_else || height != frames.back().height + 2) return std::nullopt;
      plan.steps.push_back({Op::Select});
      height = frames.back().height;
      frames.pop_back();
    }
    if (pc == n) break;
    const OpCode& op = program[pc];
    cost += cost_of(op.kind());
    switch (op.kind()) {
      case OpKind::PushConst: {
        const Decimal& c = op.constant();
        if (c.hi() != 0 || c.lo() > static_cast<uint64_t>(INT64_MAX) || (c.is_zero() && c.is_sign_negative())) {
          return std::nullopt;
        }
        const auto v = static_cast<int64_t>(c.lo());
        plan.steps.push_back({Op::Const, 0, c.is_sign_negative() ? -v : v, static_cast<int32_t>(c.scale())});
        ++height;
        break;
      }
      case OpKind::LoadVar: {
        const auto it = std::find(vars.begin(), vars.end(), op.var());
        if (it == vars.end()) return std::nullopt;
        plan.steps.push_back({Op::Load, static_cast<int32_t>(it - vars.begin())});
        ++height;
        break;
      }
      case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::And: case OpKind::Or: case OpKind::Eq:
      case OpKind::Ne: case OpKind::Lt: case OpKind::Le: case OpKind::Gt: case OpKind::Ge: {
        if (!need(2)) return std::nullopt;
        static constexpr Op OPS[] = {Op::Add, Op::Sub, Op::Mul};
        Op f;
        switch (op.kind()) {
          case OpKind::Add: case OpKind::Sub: case OpKind::Mul:
            f = OPS[static_cast<int>(op.kind()) - static_cast<int>(OpKind::Add)];
            break;
          case OpKind::And: f = Op::And; break;
          case OpKind::Or: f = Op::Or; break;
          default: f = static_cast<Op>(static_cast<int>(Op::Eq) + static_cast<int>(op.kind()) - static_cast<int>(OpKind::Eq));
        }
        plan.steps.push_back({f});
        --height;
        break;
      }
      case OpKind::Neg: case OpKind::Not:
        if (!need(1)) return std::nullopt;
        plan.steps.push_back({op.kind() == OpKind::Neg ? Op::Neg : Op::Not});
        break;
      case OpKind::Pos:
        if (!need(1)) return std::nullopt;
        break;
      case OpKind::Call: {
        const size_t args = op.arg_count();
        const std::string_view name = op.call_name();
        if (args == 0 || !need(args) || args > 64) return std::nullopt;
        if ((name == "max" || name == "min")) {
          plan.steps.push_back({name == "max" ? Op::Max : Op::Min, static_cast<int32_t>(args)});
        } else if (name == "abs" && args == 1) {
          plan.steps.push_back({Op::Abs});
        } else if (name == "round" && args == 1) {
          plan.steps.push_back({Op::Round, 0});
        } else if (name == "round" && args == 2 && plan.steps.back().op == Op::Const && plan.steps.back().scale == 0 &&
                   plan.steps.back().constant >= 0 && plan.steps.back().constant <= 28 &&
                   (frames.empty() || pc - 1 != frames.back().else_at)) {
          const int32_t places = static_cast<int32_t>(plan.steps.back().constant);
          plan.steps.back() = {Op::Round, places};
        } else {
          return std::nullopt;
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
        frames.push_back({t, u, height});  // the condition stays on the stack for the Select
        break;
      }
      case OpKind::Jump:
        if (frames.empty() || frames.back().in_else || frames.back().else_at != pc + 1 ||
            height != frames.back().height + 1) {
          return std::nullopt;
        }
        frames.back().in_else = true;
        break;
      default:
        return std::nullopt;
    }
    plan.depth = std::max(plan.depth, height);
  }
  if (!frames.empty() || height != 1) return std::nullopt;
  if (gas && cost > *gas) return std::nullopt;
  return plan;
}

}  // namespace vexlor::columnar::fast
