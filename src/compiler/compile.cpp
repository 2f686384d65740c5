// The compiler: parse, bound the tree's depth, emit code by a post-order walk.

#include <cassert>
#include <utility>
#include <vector>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

// What one walk over the tree finds: the number of nodes on the longest path
// from the root to a leaf, and the length of the program the tree compiles to.
struct TreeMeasure {
  size_t depth = 0;
  size_t code_length = 0;
};

// Walks the whole tree with an explicit work list, so that any depth can be
// measured. The first entries of the list live in a fixed array; only deep
// trees spill into a heap vector.
TreeMeasure measure_tree(const Expr& root) {
  struct Item {
    const Expr* node;
    size_t depth;
  };
  constexpr size_t INLINE_ITEMS = 64;
  Item inline_items[INLINE_ITEMS];
  size_t inline_count = 0;
  std::vector<Item> overflow;
  auto push = [&](const Expr* node, size_t depth) {
    if (inline_count < INLINE_ITEMS) {
      inline_items[inline_count++] = {node, depth};
    } else {
      overflow.push_back({node, depth});
    }
  };
  TreeMeasure measure;
  push(&root, 1);
  while (inline_count != 0) {
    Item item;
    if (!overflow.empty()) {
      item = overflow.back();
      overflow.pop_back();
    } else {
      item = inline_items[--inline_count];
    }
    if (item.depth > measure.depth) measure.depth = item.depth;
    // One instruction per node; a Ternary's two jumps stand in for its own.
    measure.code_length += item.node->kind() == ExprKind::Ternary ? 2 : 1;
    const size_t count = item.node->child_count();
    for (size_t i = 0; i < count; ++i) push(&item.node->child(i), item.depth + 1);
  }
  return measure;
}

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
      program.push_back(OpCode::load_var(node.var()));
      return;
    case ExprKind::Call:
      for (size_t i = 0; i < node.child_count(); ++i) emit(node.child(i), program);
      program.push_back(OpCode::call(node.call_name(), node.child_count()));
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
  auto parsed = parse(text);
  if (!parsed.ok()) return unexpected("Parse error: " + parsed.error().to_string());
  ExprPtr tree = std::move(parsed).value();
  const TreeMeasure measure = measure_tree(*tree);
  const size_t depth = measure.depth;
  if (depth > max_depth) {
    dismantle(std::move(tree));
    return unexpected("Parse error: expression nesting depth " + std::to_string(depth) + " exceeds max_depth " +
                      std::to_string(max_depth));
  }
  Program program;
  program.reserve(measure.code_length);
  emit(*tree, program);
  return program;
}

}  // namespace vexlor
