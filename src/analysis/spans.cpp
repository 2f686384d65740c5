// Spans from the parser's reductions: the program is emitted as the compiler's
// LALR path emits it, and each instruction gets the span of the node reduced.
// Sub-expressions' spans form a stack beside the parse stack (reductions come
// in post-order), since the parse stack's entries carry depths, not spans.

#include "analysis/spans.hpp"

#include <utility>

#include "compiler/compiler.hpp"
#include "parser/driver.hpp"

namespace vexlor {
namespace {

using lalr::Entry;
using lalr::Rule;

OpKind rule_op(Rule rule) {
  switch (rule) {
    case Rule::DisjunctionOr: return OpKind::Or;
    case Rule::ConjunctionAnd: return OpKind::And;
    case Rule::ComparisonEq: return OpKind::Eq;
    case Rule::ComparisonNe: return OpKind::Ne;
    case Rule::ComparisonLt: return OpKind::Lt;
    case Rule::ComparisonLe: return OpKind::Le;
    case Rule::ComparisonGt: return OpKind::Gt;
    case Rule::ComparisonGe: return OpKind::Ge;
    case Rule::AdditiveAdd: return OpKind::Add;
    case Rule::AdditiveSub: return OpKind::Sub;
    case Rule::MultiplicativeMul: return OpKind::Mul;
    case Rule::MultiplicativeDiv: return OpKind::Div;
    case Rule::MultiplicativeFloorDiv: return OpKind::FloorDiv;
    case Rule::MultiplicativeMod: return OpKind::Mod;
    case Rule::UnaryPos: return OpKind::Pos;
    case Rule::UnaryNeg: return OpKind::Neg;
    case Rule::UnaryNot: return OpKind::Not;
    default: return OpKind::Pow;  // Rule::ExponentPow
  }
}

struct Range {
  size_t start, end;
};

class SpanSink {
 public:
  static constexpr bool WANTS_DEPTH = true;  // for the Args counts and the jumps
  SpanSink(Program& program, std::vector<InstructionSpan>& spans) : program_(program), spans_(spans) {}

  size_t on_shift(Terminal terminal) {
    const size_t at = program_.size();
    program_.push_back(terminal == Terminal::Question ? OpCode::jump_if_false(0) : OpCode::jump(0));
    spans_.push_back({});
    return at;
  }

  bool reduce(Rule rule, Entry* v, Entry&, std::string_view text) {
    switch (rule) {
      case Rule::ConditionalTernary: {
        const Range whole = merge(3);
        const size_t jump_if_false = v[1].start, jump = v[3].start;
        program_[jump_if_false] = OpCode::jump_if_false(jump + 1);
        program_[jump] = OpCode::jump(program_.size());
        // A shifted "?" or ":" keeps its end; each is one byte.
        spans_[jump_if_false] = {whole.start, whole.end, v[1].end - 1, v[1].end};
        spans_[jump] = {whole.start, whole.end, v[3].end - 1, v[3].end};
        return true;
      }
      case Rule::PrimaryCall: {
        pop();  // the arguments
        program_.push_call(token(text, v[0]), v[2].start);
        return leaf({v[0].start, v[3].end}, {v[0].start, v[0].end});
      }
      case Rule::PrimaryCallEmpty:
        program_.push_call(token(text, v[0]), 0);
        return leaf({v[0].start, v[2].end}, {v[0].start, v[0].end});
      case Rule::PrimaryParens:
        pop();
        nodes_.push_back({v[0].start, v[2].end});
        return true;
      case Rule::ArgsMore:
        merge(2);
        return true;
      case Rule::ArgsOne:
        return true;
      case Rule::VariableUuid: {
        UuidBytes bytes{};
        if (!try_parse_uuid(token(text, v[1]), bytes)) return false;
        program_.push_load_var(VarId::uuid(bytes));
        return leaf({v[0].start, v[2].end}, {v[0].start, v[2].end});
      }
      case Rule::VariableName:
        program_.push_load_var_name(token(text, v[0]));
        return leaf({v[0].start, v[0].end}, {v[0].start, v[0].end});
      case Rule::LiteralNumber: {
        Decimal value;
        if (!lalr::literal_value(token(text, v[0]), value)) return false;
        program_.push_back(OpCode::push_const(value));
        return leaf({v[0].start, v[0].end}, {v[0].start, v[0].end});
      }
      case Rule::UnaryPos:
      case Rule::UnaryNeg:
      case Rule::UnaryNot: {
        const Range operand = pop();
        program_.emplace_back(rule_op(rule));
        return leaf({v[0].start, operand.end}, {v[0].start, v[0].end});
      }
      default: {  // the two-operand operators
        const Range whole = merge(2);
        nodes_.pop_back();
        program_.emplace_back(rule_op(rule));
        return leaf(whole, {v[1].start, v[1].end});
      }
    }
  }

 private:
  static std::string_view token(std::string_view text, const Entry& e) { return text.substr(e.start, e.end - e.start); }
  Range pop() {
    const Range r = nodes_.back();
    nodes_.pop_back();
    return r;
  }
  // Replaces the top `count` node spans by the one covering them all.
  Range merge(size_t count) {
    const Range last = pop();
    for (size_t i = 1; i + 1 < count; ++i) nodes_.pop_back();
    Range& first = nodes_.back();
    first.end = last.end;
    return first;
  }
  // The instruction just emitted gets `whole` and `op`; `whole` is the new node.
  bool leaf(Range whole, Range op) {
    spans_.push_back({whole.start, whole.end, op.start, op.end});
    nodes_.push_back(whole);
    return true;
  }

  Program& program_;
  std::vector<InstructionSpan>& spans_;
  std::vector<Range> nodes_;
};

}  // namespace

Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth,
                                                                      Program& program) {
  auto compiled = compile_str(text, max_depth);
  if (!compiled.ok()) return unexpected(std::move(compiled.error()));
  Program rebuilt;
  std::vector<InstructionSpan> spans;
  SpanSink sink(rebuilt, spans);
  lalr::Driver<SpanSink> driver(text, sink);
  auto root = driver.run();
  if (!root.ok() || !(rebuilt == *compiled) || spans.size() != rebuilt.size()) {
    return unexpected(std::string("Internal error: the instructions' source spans could not be found"));
  }
  program = std::move(*compiled);
  return spans;
}

Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth) {
  Program program;
  return instruction_spans(text, max_depth, program);
}

}  // namespace vexlor
