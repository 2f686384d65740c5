// The syntax tree: construction, iterative teardown and a textual rendering.

#include <cassert>

#include "parser/parser.hpp"

namespace vexlor {

ExprPtr Expr::number(Decimal value) {
  ExprPtr e(new Expr(ExprKind::Number));
  e->payload_ = value;
  return e;
}

ExprPtr Expr::var(VarId id) {
  ExprPtr e(new Expr(ExprKind::Var));
  e->payload_ = std::move(id);
  return e;
}

ExprPtr Expr::call(std::string name, std::vector<ExprPtr> args) {
  ExprPtr e(new Expr(ExprKind::Call));
  e->payload_ = std::move(name);
  e->args_ = std::move(args);
  return e;
}

ExprPtr Expr::unary(ExprKind kind, ExprPtr operand) {
  assert(operand_count(kind) == 1);
  ExprPtr e(new Expr(kind));
  e->operands_[0] = std::move(operand);
  return e;
}

ExprPtr Expr::binary(ExprKind kind, ExprPtr left, ExprPtr right) {
  assert(operand_count(kind) == 2);
  ExprPtr e(new Expr(kind));
  e->operands_[0] = std::move(left);
  e->operands_[1] = std::move(right);
  return e;
}

ExprPtr Expr::ternary(ExprPtr condition, ExprPtr then_branch, ExprPtr else_branch) {
  ExprPtr e(new Expr(ExprKind::Ternary));
  e->operands_[0] = std::move(condition);
  e->operands_[1] = std::move(then_branch);
  e->operands_[2] = std::move(else_branch);
  return e;
}

size_t Expr::operand_count(ExprKind kind) {
  switch (kind) {
    case ExprKind::Number:
    case ExprKind::Var:
    case ExprKind::Call:
      return 0;
    case ExprKind::Pos:
    case ExprKind::Neg:
    case ExprKind::Not:
      return 1;
    case ExprKind::Ternary:
      return 3;
    default:
      return 2;
  }
}

bool Expr::has_children() const { return operands_[0] != nullptr || !args_.empty(); }

void Expr::release_children(std::vector<ExprPtr>& out) {
  for (ExprPtr& child : operands_) {
    if (child) out.push_back(std::move(child));
  }
  for (ExprPtr& arg : args_) out.push_back(std::move(arg));
  args_.clear();
}

Expr::~Expr() {
  if (!has_children()) return;
  // Every node taken from the stack is emptied before it is destroyed, so the
  // nested destructor calls return at once.
  std::vector<ExprPtr> pending;
  release_children(pending);
  while (!pending.empty()) {
    ExprPtr node = std::move(pending.back());
    pending.pop_back();
    node->release_children(pending);
  }
}

namespace {

constexpr std::string_view KIND_NAMES[EXPR_KIND_COUNT] = {
    "Number", "Var", "Call", "Add", "Sub", "Mul", "Div", "FloorDiv", "Mod", "Pow", "Pos",
    "Neg",    "Not", "Eq",   "Ne",  "Lt",  "Le",  "Gt",  "Ge",       "And", "Or",  "Ternary",
};

}  // namespace

std::string describe(const Expr& tree) {
  // Each frame: a node and how many of its children have been written.
  struct Frame {
    const Expr* node;
    size_t next;
  };
  std::string out;
  std::vector<Frame> stack{{&tree, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    const Expr& node = *top.node;
    if (top.next == 0) {
      out += KIND_NAMES[static_cast<size_t>(node.kind())];
      out += '(';
      if (node.kind() == ExprKind::Number) out += node.number().to_string();
      if (node.kind() == ExprKind::Var) out += node.var().display();
      if (node.kind() == ExprKind::Call) {
        out += node.call_name();
        out += node.child_count() == 0 ? "" : "; ";
      }
    }
    if (top.next == node.child_count()) {
      out += ')';
      stack.pop_back();
      continue;
    }
    if (top.next != 0) out += ", ";
    const Expr* child = &node.child(top.next++);
    stack.push_back({child, 0});
  }
  return out;
}

}  // namespace vexlor
