#pragma once
// The sink behind instruction_spans and the syntax warnings: it emits the
// program as the compiler's LALR path emits it, gives each instruction the span
// of the node reduced, and shows each reduction to an observer. Sub-expressions
// form a stack of nodes beside the parse stack (reductions come in post-order),
// since the parse stack's entries carry depths, not spans.

#include <cstddef>
#include <string_view>
#include <vector>

#include "analysis/spans.hpp"
#include "compiler/rule_op.hpp"
#include "parser/driver.hpp"

namespace vexlor::span_sink {

using lalr::Entry;
using lalr::Rule;

// A sub-expression: its text [start, end), the index of its first instruction,
// and how it was made: by the rule of an operator, or (MADE_OTHERWISE) as a
// leaf, a call, a conditional or a parenthesised expression.
inline constexpr int MADE_OTHERWISE = -1;
struct Node {
  size_t start = 0, end = 0;
  size_t code = 0;
  int rule = MADE_OTHERWISE;
  size_t tag = 0;  // the observer's own
};

// Observes nothing.
struct NoObserver {
  void binary(Rule, const Program&, const Node&, const Node&, size_t, size_t, Node&) {}
};

using vexlor::rule_op;

// Observer: binary(rule, program, left, right, op_start, op_end, made) is called
// for each two-operand operator before its instruction is emitted (the
// program then ends with the right operand's code); it may set made.tag.
template <class Observer = NoObserver>
class SpanSink {
 public:
  static constexpr bool WANTS_DEPTH = true;  // for the Args counts and the jumps
  SpanSink(Program& program, std::vector<InstructionSpan>& spans, Observer& observer)
      : program_(program), spans_(spans), observer_(observer) {}

  size_t on_shift(Terminal terminal) {
    const size_t at = program_.size();
    program_.push_back(terminal == Terminal::Question ? OpCode::jump_if_false(0) : OpCode::jump(0));
    spans_.push_back({});
    return at;
  }

  bool reduce(Rule rule, Entry* v, Entry&, std::string_view text) {
    switch (rule) {
      case Rule::ConditionalTernary: {
        const Node whole = merge(3);
        const size_t jump_if_false = v[1].start, jump = v[3].start;
        program_[jump_if_false] = OpCode::jump_if_false(jump + 1);
        program_[jump] = OpCode::jump(program_.size());
        // A shifted "?" or ":" keeps its end; each is one byte.
        spans_[jump_if_false] = {whole.start, whole.end, v[1].end - 1, v[1].end};
        spans_[jump] = {whole.start, whole.end, v[3].end - 1, v[3].end};
        return true;
      }
      case Rule::PrimaryCall: {
        const Node args = pop();
        program_.push_call(token(text, v[0]), v[2].start);
        return leaf({v[0].start, v[3].end, args.code}, {v[0].start, v[0].end});
      }
      case Rule::PrimaryCallEmpty: {
        const size_t code = program_.size();
        program_.push_call(token(text, v[0]), 0);
        return leaf({v[0].start, v[2].end, code}, {v[0].start, v[0].end});
      }
      case Rule::PrimaryParens: {
        const Node inner = pop();
        nodes_.push_back({v[0].start, v[2].end, inner.code});
        return true;
      }
      case Rule::ArgsMore:
        merge(2);
        return true;
      case Rule::ArgsOne:
        return true;
      case Rule::VariableUuid: {
        UuidBytes bytes{};
        if (!try_parse_uuid(token(text, v[1]), bytes)) return false;
        const size_t code = program_.size();
        program_.push_load_var(VarId::uuid(bytes));
        return leaf({v[0].start, v[2].end, code}, {v[0].start, v[2].end});
      }
      case Rule::VariableName: {
        const size_t code = program_.size();
        program_.push_load_var_name(token(text, v[0]));
        return leaf({v[0].start, v[0].end, code}, {v[0].start, v[0].end});
      }
      case Rule::LiteralNumber: {
        Decimal value;
        if (!lalr::literal_value(token(text, v[0]), value)) return false;
        const size_t code = program_.size();
        program_.push_back(OpCode::push_const(value));
        return leaf({v[0].start, v[0].end, code}, {v[0].start, v[0].end});
      }
      case Rule::UnaryPos:
      case Rule::UnaryNeg:
      case Rule::UnaryNot: {
        const Node operand = pop();
        program_.emplace_back(rule_op(rule));
        return leaf({v[0].start, operand.end, operand.code, static_cast<int>(rule)}, {v[0].start, v[0].end});
      }
      default: {  // the two-operand operators
        const Node right = pop();
        const Node left = pop();
        Node made{left.start, right.end, left.code, static_cast<int>(rule)};
        observer_.binary(rule, program_, left, right, v[1].start, v[1].end, made);
        program_.emplace_back(rule_op(rule));
        return leaf(made, {v[1].start, v[1].end});
      }
    }
  }

 private:
  struct Range {
    size_t start, end;
  };
  static std::string_view token(std::string_view text, const Entry& e) { return text.substr(e.start, e.end - e.start); }
  Node pop() {
    const Node n = nodes_.back();
    nodes_.pop_back();
    return n;
  }
  // Replaces the top `count` nodes by one covering them all.
  Node merge(size_t count) {
    const Node last = pop();
    for (size_t i = 1; i + 1 < count; ++i) nodes_.pop_back();
    Node& first = nodes_.back();
    first.end = last.end;
    first.rule = MADE_OTHERWISE;
    return first;
  }
  // The instruction just emitted gets `made`'s span and `op`; `made` is the new node.
  bool leaf(const Node& made, Range op) {
    spans_.push_back({made.start, made.end, op.start, op.end});
    nodes_.push_back(made);
    return true;
  }

  Program& program_;
  std::vector<InstructionSpan>& spans_;
  Observer& observer_;
  std::vector<Node> nodes_;
};

}  // namespace vexlor::span_sink
