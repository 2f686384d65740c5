// Random well-formed programs, emitted from random expression trees the way the
// compiler emits them, checked against a direct evaluation of the tree: result,
// error and gas; and run with and without gas limits.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "vm_test_util.hpp"

namespace vexlor {
namespace {

struct Node {
  enum class Type { Const, Var, Unary, Binary, Ternary, Call } type;
  Decimal value;
  std::string name;  // variable or function
  OpKind op = OpKind::Add;
  std::vector<std::unique_ptr<Node>> kids;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  std::unique_ptr<Node> tree(int depth) {
    auto n = std::make_unique<Node>();
    const int pick = depth <= 0 ? static_cast<int>(below(2)) : static_cast<int>(below(12));
    if (pick == 0) {
      n->type = Node::Type::Const;
      n->value = constant();
    } else if (pick == 1) {
      n->type = Node::Type::Var;
      static const char* names[] = {"a", "b", "c", "x", "missing"};
      n->name = names[below(below(20) == 0 ? 5 : 4)];
    } else if (pick <= 3) {
      n->type = Node::Type::Unary;
      static const OpKind ops[] = {OpKind::Neg, OpKind::Pos, OpKind::Not};
      n->op = ops[below(3)];
      n->kids.push_back(tree(depth - 1));
    } else if (pick <= 8) {
      n->type = Node::Type::Binary;
      n->op = static_cast<OpKind>(static_cast<size_t>(OpKind::Add) + below(18));
      if (n->op == OpKind::Neg || n->op == OpKind::Pos || n->op == OpKind::Not) n->op = OpKind::Mul;
      n->kids.push_back(tree(depth - 1));
      if (n->op == OpKind::Pow) {
        static const char* exps[] = {"0", "1", "2", "3", "-1", "-2", "0.5", "1.5", "2.0", "10"};
        auto e = std::make_unique<Node>();
        e->type = Node::Type::Const;
        e->value = *Decimal::from_str(exps[below(10)]);
        n->kids.push_back(std::move(e));
      } else {
        n->kids.push_back(tree(depth - 1));
      }
    } else if (pick <= 9) {
      n->type = Node::Type::Ternary;
      for (int i = 0; i < 3; ++i) n->kids.push_back(tree(depth - 1));
    } else {
      n->type = Node::Type::Call;
      static const char* fns[] = {"add", "mul", "max", "round", "sqrt", "min",
                                  "abs", "floor", "ceil", "sum", "average", "nope"};
      n->name = fns[below(below(30) == 0 ? 12 : 11)];
      const size_t argc = below(4);
      for (size_t i = 0; i < argc; ++i) n->kids.push_back(tree(depth - 1));
    }
    return n;
  }

 private:
  uint64_t below(uint64_t n) { return rng_() % n; }
  Decimal constant() {
    if (below(25) == 0) return Decimal::max_value();
    if (below(10) == 0) return Decimal();
    const uint64_t coefficient = below(4) == 0 ? rng_() >> below(64) : below(2000);
    return Decimal::from_parts(coefficient, below(8) == 0 ? static_cast<uint32_t>(rng_()) : 0,
                               static_cast<uint32_t>(below(6)), below(3) == 0);
  }
  std::mt19937_64 rng_;
};

void emit(const Node& n, Program& out) {
  switch (n.type) {
    case Node::Type::Const:
      out.push_back(OpCode::push_const(n.value));
      return;
    case Node::Type::Var:
      out.push_back(OpCode::load_var(VarId::name(n.name)));
      return;
    case Node::Type::Unary:
    case Node::Type::Binary:
      for (const auto& k : n.kids) emit(*k, out);
      out.push_back(OpCode(n.op));
      return;
    case Node::Type::Ternary: {
      emit(*n.kids[0], out);
      const size_t to_else = out.size();
      out.push_back(OpCode::jump_if_false(0));
      emit(*n.kids[1], out);
      const size_t to_end = out.size();
      out.push_back(OpCode::jump(0));
      out[to_else] = OpCode::jump_if_false(out.size());
      emit(*n.kids[2], out);
      out[to_end] = OpCode::jump(out.size());
      return;
    }
    case Node::Type::Call:
      for (const auto& k : n.kids) emit(*k, out);
      out.push_back(OpCode::call(n.name, n.kids.size()));
      return;
  }
}

// Direct evaluation; `gas` accumulates the cost of every instruction reached,
// including a failing one.
struct Oracle {
  const VmContext& ctx;
  uint64_t gas = 0;

  Expected<Decimal, VmError> eval(const Node& n) {
    using R = Expected<Decimal, VmError>;
    switch (n.type) {
      case Node::Type::Const:
        gas += 1;
        return n.value;
      case Node::Type::Var: {
        gas += 1;
        const Decimal* v = ctx.variables.find(VarId::name(n.name));
        if (!v) return unexpected(VmError::variable_not_found(n.name));
        return *v;
      }
      case Node::Type::Unary: {
        R x = eval(*n.kids[0]);
        if (!x) return x;
        gas += 1;
        if (n.op == OpKind::Neg) return -*x;
        if (n.op == OpKind::Not) return x->is_zero() ? Decimal::one() : Decimal::zero();
        return x;
      }
      case Node::Type::Binary: {
        R a = eval(*n.kids[0]);
        if (!a) return a;
        R b = eval(*n.kids[1]);
        if (!b) return b;
        return binary(n.op, *a, *b);
      }
      case Node::Type::Ternary: {
        R c = eval(*n.kids[0]);
        if (!c) return c;
        gas += 1;  // JumpIfFalse
        if (c->is_zero()) return eval(*n.kids[2]);
        R t = eval(*n.kids[1]);
        if (t) gas += 1;  // Jump
        return t;
      }
      case Node::Type::Call: {
        std::vector<Decimal> args;
        for (const auto& k : n.kids) {
          R v = eval(*k);
          if (!v) return v;
          args.push_back(*v);
        }
        gas += 3;
        const BuiltinFn fn = ctx.functions->find(n.name);
        if (!fn) return unexpected(VmError::function_not_found(n.name));
        Decimal out;
        std::optional<VmError> error;
        if (!fn(args, out, error)) return unexpected(std::move(*error));
        return out;
      }
    }
    return Decimal();
  }

  Expected<Decimal, VmError> binary(OpKind op, const Decimal& a, const Decimal& b) {
    const auto boolean = [](bool v) { return v ? Decimal::one() : Decimal::zero(); };
    const auto arith = [](ArithResult r, const char* word) -> Expected<Decimal, VmError> {
      if (!r.is_ok()) return unexpected(VmError::overflow(std::string(word) + " overflow: result out of Decimal range"));
      return r.value;
    };
    switch (op) {
      case OpKind::Add: gas += 3; return arith(add_impl(a, b), "Addition");
      case OpKind::Sub: gas += 3; return arith(sub_impl(a, b), "Subtraction");
      case OpKind::Mul: gas += 3; return arith(mul_impl(a, b), "Multiplication");
      case OpKind::Div:
      case OpKind::FloorDiv:
      case OpKind::Mod: {
        gas += 3;
        if (b.is_zero()) return unexpected(VmError::division_by_zero());
        if (op == OpKind::Mod) return arith(rem_impl(a, b), "Modulo");
        auto q = arith(div_impl(a, b), "Division");
        if (q && op == OpKind::FloorDiv) return q->floor();
        return q;
      }
      case OpKind::Pow: {
        gas += 1 + *b.abs().ceil().to_u64();
        const MathResult r = checked_powd(a, b);
        if (r.is_ok()) return r.value;
        if (r.status == MathResult::Status::Fault) return unexpected(VmError::runtime_error(r.fault));
        return unexpected(VmError::overflow("Pow overflow: " + a.to_string() + "^" + b.to_string() +
                                            " exceeds Decimal range (max ~7.9e28)"));
      }
      default:
        break;
    }
    gas += 1;
    const auto c = a.cmp(b);
    switch (op) {
      case OpKind::And: return boolean(!a.is_zero() && !b.is_zero());
      case OpKind::Or: return boolean(!a.is_zero() || !b.is_zero());
      case OpKind::Eq: return boolean(c == 0);
      case OpKind::Ne: return boolean(c != 0);
      case OpKind::Lt: return boolean(c < 0);
      case OpKind::Le: return boolean(c <= 0);
      case OpKind::Gt: return boolean(c > 0);
      default: return boolean(c >= 0);
    }
  }
};

VmContext random_context() {
  VmContext ctx;
  ctx.variables.insert_or_assign(VarId::name("a"), test::D("1"));
  ctx.variables.insert_or_assign(VarId::name("b"), test::D("-2.50"));
  ctx.variables.insert_or_assign(VarId::name("c"), test::D("0.000"));
  ctx.variables.insert_or_assign(VarId::name("x"), test::D("12345.6789"));
  return ctx;
}

TEST(RandomProgramTest, AgreesWithTreeEvaluationAndGasLimits) {
  const VmContext ctx = random_context();
  Generator gen(20240611);
  std::mt19937_64 rng(7);
  size_t values = 0, errors = 0;
  for (int i = 0; i < 4000; ++i) {
    const auto tree = gen.tree(1 + i % 6);
    Program p;
    emit(*tree, p);
    Oracle oracle{ctx};
    const std::string expected = test::outcome(oracle.eval(*tree));
    (expected.rfind("ok:", 0) == 0 ? values : errors)++;
    const uint64_t cost = oracle.gas;

    const std::string free_run = test::outcome(run(p, ctx, std::nullopt));
    ASSERT_EQ(free_run, expected) << "program " << i;
    uint64_t used = 0;
    ASSERT_EQ(test::outcome(run(p, ctx, UINT64_MAX, &used)), expected) << "program " << i;
    ASSERT_EQ(used, cost) << "program " << i;
    ASSERT_EQ(test::outcome(run(p, ctx, cost, &used)), expected) << "program " << i;
    ASSERT_EQ(used, cost);
    const uint64_t limit = cost == 0 ? 0 : rng() % cost;
    const auto short_run = run(p, ctx, limit, &used);
    ASSERT_FALSE(short_run.ok()) << "program " << i;
    ASSERT_EQ(short_run.error().kind(), VmError::Kind::OutOfGas) << "program " << i;
    ASSERT_EQ(short_run.error().limit(), limit);
    ASSERT_LE(used, limit);
    ASSERT_EQ(limit - used, short_run.error().remaining());
  }
  // The generator reaches both outcomes in fair numbers.
  EXPECT_GT(values, 1000u);
  EXPECT_GT(errors, 200u);
}

TEST(ConcurrencyTest, ThreadsAgreeWithSingleThreadedRuns) {
  const VmContext ctx = random_context();
  Generator gen(99);
  std::vector<Program> programs;
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    Program p;
    emit(*gen.tree(5), p);
    expected.push_back(test::outcome(run(p, ctx, i % 2 ? std::optional<uint64_t>(60) : std::nullopt)));
    programs.push_back(std::move(p));
  }
  constexpr int THREADS = 8;
  std::vector<int> mismatches(THREADS, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < programs.size(); ++i) {
          const size_t k = (i + static_cast<size_t>(t) * 31) % programs.size();
          const auto r = run(programs[k], ctx, k % 2 ? std::optional<uint64_t>(60) : std::nullopt);
          if (test::outcome(r) != expected[k]) ++mismatches[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < THREADS; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace vexlor
