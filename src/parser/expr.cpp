// The syntax tree: construction, iterative teardown and a textual rendering.

#include "parser/parser.hpp"

namespace vexlor {

ExprPtr Expr::var(VarId id) { return ExprPtr(new Expr(ExprKind::Var, std::in_place_type<VarId>, std::move(id))); }

ExprPtr Expr::var_name(std::string_view name) {
  return ExprPtr(new Expr(ExprKind::Var, std::in_place_type<VarId>, VarId::NameText{name}));
}

ExprPtr Expr::call(std::string name, std::vector<ExprPtr> args) {
  ExprPtr e(new Expr(ExprKind::Call, std::in_place_type<std::string>, std::move(name)));
  e->args_ = std::move(args);
  return e;
}

void Expr::release_children(std::vector<ExprPtr>& out) {
  for (Expr*& child : operands_) {
    if (child) out.emplace_back(child);
    child = nullptr;
  }
  for (ExprPtr& arg : args_) out.push_back(std::move(arg));
  args_.clear();
}

// ---------------------------------------------------------------- node cache

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define VEXLOR_EXPR_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXLOR_EXPR_CACHE 0
#endif
#endif
#ifndef VEXLOR_EXPR_CACHE
#define VEXLOR_EXPR_CACHE 1  // the address sanitizer sees every node's own allocation
#endif

#if VEXLOR_EXPR_CACHE
// Freed nodes of this thread, linked through their first word. A node freed on
// another thread than the one that made it simply joins that thread's cache.
struct FreeNodes {
  static constexpr size_t LIMIT = 4096;
  void* head = nullptr;
  size_t count = 0;

  void* take() {
    void* node = head;
    if (node != nullptr) {
      head = *static_cast<void**>(node);
      --count;
    }
    return node;
  }
  void give(void* node) {
    if (count < LIMIT) {
      *static_cast<void**>(node) = head;
      head = node;
      ++count;
    } else {
      ::operator delete(node);
    }
  }
  ~FreeNodes() {
    while (head != nullptr) {
      void* next = *static_cast<void**>(head);
      ::operator delete(head);
      head = next;
    }
    count = LIMIT;  // a node freed after this point goes back to the allocator
  }
};
thread_local FreeNodes free_nodes;
#endif

}  // namespace

Expr::~Expr() {
  if (!has_children()) return;
  // Every node taken from the work stack is emptied before it is deleted, so
  // the nested destructor calls return at once. The first nodes wait in a
  // fixed array, which is all that a shallow tree needs.
  constexpr size_t INLINE_NODES = 64;
  Expr* inline_nodes[INLINE_NODES];
  size_t inline_count = 0;
  std::vector<Expr*> overflow;
  auto push = [&](Expr* node) {
    if (inline_count < INLINE_NODES) {
      inline_nodes[inline_count++] = node;
    } else {
      overflow.push_back(node);
    }
  };
  auto take_children = [&](Expr& node) {
    if (node.kind_ == ExprKind::Call) {
      for (ExprPtr& arg : node.args_) push(arg.release());
      node.args_.clear();
      return;
    }
    if (!node.operands_[0]) return;  // a leaf, or released
    const size_t count = operand_count(node.kind_);
    for (size_t i = 0; i < count; ++i) {
      push(node.operands_[i]);
      node.operands_[i] = nullptr;
    }
  };
  take_children(*this);
#if VEXLOR_EXPR_CACHE
  FreeNodes& cache = free_nodes;  // one look-up for the whole teardown
#endif
  while (inline_count != 0) {
    Expr* node;
    if (!overflow.empty()) {
      node = overflow.back();
      overflow.pop_back();
    } else {
      node = inline_nodes[--inline_count];
    }
    take_children(*node);
#if VEXLOR_EXPR_CACHE
    node->~Expr();
    cache.give(node);
#else
    delete node;
#endif
  }
}

void* Expr::operator new(size_t size) {
#if VEXLOR_EXPR_CACHE
  if (void* node = free_nodes.take()) return node;
#endif
  return ::operator new(size);
}

void Expr::operator delete(void* node) {
#if VEXLOR_EXPR_CACHE
  free_nodes.give(node);
#else
  ::operator delete(node);
#endif
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
