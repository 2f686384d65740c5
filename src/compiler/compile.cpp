// The compiler. compile_str emits code without building a syntax tree: by the
// fast path's operator-precedence scan (compile_fast.cpp) where it applies, else
// straight from the LALR parser's reductions, which come in post-order; both
// report the depth the tree would have. emit() compiles a tree that exists.

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

#include "compiler/compile_fast.hpp"
#include "compiler/compiler.hpp"
#include "compiler/rule_op.hpp"
#include "parser/driver.hpp"

namespace vexlor {
namespace {

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

namespace {

using lalr::Entry;
using lalr::Rule;

// Emits the code of each node as the parser reduces it. A conditional
// c ? a : b becomes c, JumpIfFalse, a, Jump, b: the two jumps are appended
// when "?" and ":" are shifted (the code before them is complete then) and get
// their targets when the conditional is reduced.
class CodeSink {
 public:
  static constexpr bool WANTS_DEPTH = true;
  explicit CodeSink(Program& program) : program_(program) {}

  size_t on_shift(Terminal terminal) {
    const size_t at = program_.size();
    program_.push_back(terminal == Terminal::Question ? OpCode::jump_if_false(0) : OpCode::jump(0));
    return at;
  }

  bool reduce(Rule rule, Entry* v, Entry&, std::string_view text) {
    switch (rule) {
      case Rule::ConditionalTernary: {
        const size_t jump_if_false = v[1].start, jump = v[3].start;
        program_[jump_if_false] = OpCode::jump_if_false(jump + 1);
        program_[jump] = OpCode::jump(program_.size());
        return true;
      }
      case Rule::PrimaryCall:
        program_.push_call(token_text(text, v[0]), v[2].start);
        return true;
      case Rule::PrimaryCallEmpty:
        program_.push_call(token_text(text, v[0]), 0);
        return true;
      case Rule::PrimaryParens:
      case Rule::ArgsMore:
      case Rule::ArgsOne:
        return true;
      case Rule::VariableUuid: {
        UuidBytes bytes{};
        [[maybe_unused]] bool ok = try_parse_uuid(token_text(text, v[1]), bytes);
        assert(ok);  // the lexer admits only the hyphenated lower-case form
        program_.push_load_var(VarId::uuid(bytes));
        return true;
      }
      case Rule::VariableName:
        program_.push_load_var_name(token_text(text, v[0]));
        return true;
      case Rule::LiteralNumber: {
        Decimal value;
        if (!lalr::literal_value(token_text(text, v[0]), value)) return false;
        program_.push_back(OpCode::push_const(value));
        return true;
      }
      default:  // operators
        program_.emplace_back(rule_op(rule));
        return true;
    }
  }

 private:
  static std::string_view token_text(std::string_view text, const Entry& e) {
    return text.substr(e.start, e.end - e.start);
  }
  Program& program_;
};

}  // namespace

Expected<Program, std::string> compile_str(std::string_view text, size_t max_depth) {
  // Every instruction stands for a token of its own ("?" and ":" for the jumps),
  // and a program rarely has as many as one per two bytes of text. The operand
  // blocks get the same room as a third of that; long texts start with room
  // for 1024 instructions, and more is allocated as needed.
  const size_t expected_code = std::min<size_t>(text.size() / 2 + 4, 1024);
  Program program;
  program.reserve(expected_code, expected_code / 3 + 1, 0);
  size_t depth;
  if (!compile_fast(text, program, depth)) {
    program.clear();
    CodeSink sink(program);
    lalr::Driver<CodeSink> driver(text, sink);
    auto root = driver.run();
    if (!root.ok()) return unexpected("Parse error: " + root.error().to_string());
    depth = root.value().end;
  }
  if (depth > max_depth) {
    return unexpected("Parse error: expression nesting depth " + std::to_string(depth) + " exceeds max_depth " +
                      std::to_string(max_depth));
  }
  // A program that used much less than the room estimated moves into room of its exact size.
  if (program.capacity() > 2 * program.size() + 64) program = Program(program);
  return program;
}

}  // namespace vexlor
