// The compiler: parse, bound the tree's depth, emit code by a post-order walk.
// The parser reports the depth and the size of the tree as it builds it, so
// the only walk over the tree is the emission.

#include <cassert>
#include <utility>
#include <vector>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

// Releases a tree of any depth without recursion.
void dismantle(ExprPtr root) {
  std::vector<ExprPtr> work;
  work.push_back(std::move(root));
  while (!work.empty()) {
    ExprPtr node = std::move(work.back());
    work.pop_back();
    node->release_children(work);
  }
}

OpKind operator_op(ExprKind kind) {
  switch (kind) {
    case ExprKind::Add: return OpKind::Add;
    case ExprKind::Sub: return OpKind::Sub;
    case ExprKind::Mul: return OpKind::Mul;
    case ExprKind::Div: return OpKind::Div;
    case ExprKind::FloorDiv: return OpKind::FloorDiv;
    case ExprKind::Mod: return OpKind::Mod;
    case ExprKind::Pow: return OpKind::Pow;
    case ExprKind::Eq: return OpKind::Eq;
    case ExprKind::Ne: return OpKind::Ne;
    case ExprKind::Lt: return OpKind::Lt;
    case ExprKind::Le: return OpKind::Le;
    case ExprKind::Gt: return OpKind::Gt;
    case ExprKind::Ge: return OpKind::Ge;
    case ExprKind::And: return OpKind::And;
    case ExprKind::Or: return OpKind::Or;
    case ExprKind::Pos: return OpKind::Pos;
    case ExprKind::Neg: return OpKind::Neg;
    case ExprKind::Not: return OpKind::Not;
    default:
      assert(false && "not an operator node");
      return OpKind::Add;
  }
}

}  // namespace

void emit(const Expr& node, Program& program) {
  switch (node.kind()) {
    case ExprKind::Number:
      program.push_back(OpCode::push_const(node.number()));
      return;
    case ExprKind::Var:
      program.push_load_var(node.var());
      return;
    case ExprKind::Call:
      for (size_t i = 0; i < node.child_count(); ++i) emit(node.child(i), program);
      program.push_call(node.call_name(), node.child_count());
      return;
    case ExprKind::Ternary: {
      emit(node.child(0), program);
      const size_t jump_if_false = program.size();
      program.push_back(OpCode::jump_if_false(0));
      emit(node.child(1), program);
      const size_t jump = program.size();
      program.push_back(OpCode::jump(0));
      emit(node.child(2), program);
      program[jump_if_false] = OpCode::jump_if_false(jump + 1);
      program[jump] = OpCode::jump(program.size());
      return;
    }
    default:
      for (size_t i = 0; i < node.child_count(); ++i) emit(node.child(i), program);
      program.emplace_back(operator_op(node.kind()));
  }
}

Expected<Program, std::string> compile_str(std::string_view text, size_t max_depth) {
  TreeFacts facts;
  auto parsed = parse(text, facts);
  if (!parsed.ok()) return unexpected("Parse error: " + parsed.error().to_string());
  ExprPtr tree = std::move(parsed).value();
  if (facts.depth > max_depth) {
    dismantle(std::move(tree));
    return unexpected("Parse error: expression nesting depth " + std::to_string(facts.depth) + " exceeds max_depth " +
                      std::to_string(max_depth));
  }
  // One instruction per node; a Ternary's two jumps stand in for its own.
  Program program;
  program.reserve(facts.nodes + facts.ternaries, facts.vars, facts.calls);
  emit(*tree, program);
  return program;
}

}  // namespace vexlor
