#include "analysis/warnings.hpp"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "analysis/span_sink.hpp"
#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

using span_sink::Node;
using lalr::Rule;

enum class Level { None, Additive, Multiplicative };

Level level_of(int rule) {
  switch (static_cast<Rule>(rule)) {
    case Rule::AdditiveAdd:
    case Rule::AdditiveSub: return Level::Additive;
    case Rule::MultiplicativeMul:
    case Rule::MultiplicativeDiv:
    case Rule::MultiplicativeFloorDiv:
    case Rule::MultiplicativeMod: return Level::Multiplicative;
    default: return Level::None;
  }
}

// Operators whose value changes when their right operand is regrouped.
bool regrouping_changes(Rule rule) {
  return rule == Rule::AdditiveSub || rule == Rule::MultiplicativeDiv || rule == Rule::MultiplicativeFloorDiv ||
         rule == Rule::MultiplicativeMod;
}

struct Range {
  size_t start, end;
};

// Operands and operators of one chain, from the right: operands[0] is the last
// operand written, ops[0] the last operator.
struct Chain {
  std::vector<Range> operands;
  std::vector<Range> ops;
  std::vector<Rule> rules;
};

struct WarningObserver {
  std::vector<Chain> chains;
  std::vector<SyntaxWarning> found;
  std::string_view text;

  void binary(Rule rule, const Program& program, const Node& left, const Node& right, size_t op_start,
              size_t op_end, Node& made) {
    const Level level = level_of(static_cast<int>(rule));
    if (level != Level::None) {
      if (right.rule != span_sink::MADE_OTHERWISE && level_of(right.rule) == level) {
        made.tag = right.tag;  // the chain goes on to the left
      } else {
        chains.push_back({{{right.start, right.end}}, {}, {}});
        made.tag = chains.size();
      }
      Chain& chain = chains[made.tag - 1];
      chain.operands.push_back({left.start, left.end});
      chain.ops.push_back({op_start, op_end});
      chain.rules.push_back(rule);
      return;
    }
    if (rule >= Rule::ComparisonEq && rule <= Rule::ComparisonGe) self_comparison(rule, program, left, right);
  }

  void self_comparison(Rule rule, const Program& program, const Node& left, const Node& right) {
    const size_t n = right.code - left.code;
    if (program.size() - right.code != n) return;
    for (size_t i = 0; i < n; ++i) {
      if (!(program[left.code + i] == program[right.code + i])) return;
    }
    const bool always = rule == Rule::ComparisonEq || rule == Rule::ComparisonLe || rule == Rule::ComparisonGe;
    const std::string whole = slice({left.start, right.end});
    found.push_back({SyntaxWarning::Kind::SelfComparison,
                     whole + " compares a value with itself: it is always " + (always ? "true (1)" : "false (0)"),
                     left.start, right.end});
  }

  // The text of `r` with each run of white space made one space.
  std::string slice(Range r) const {
    std::string out;
    bool space = false;
    for (char c : text.substr(r.start, r.end - r.start)) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        space = !out.empty();
        continue;
      }
      if (space) out += ' ';
      space = false;
      out += c;
    }
    return out;
  }

  static std::string join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view p : parts) out.append(p);
    return out;
  }

  void finish() {
    for (const Chain& chain : chains) {
      // The last operator written has a single operand on its right: it is not regrouped.
      const bool changes = std::any_of(chain.rules.begin() + 1, chain.rules.end(), regrouping_changes);
      if (!changes) continue;
      const size_t n = chain.ops.size();  // operators; operands: n + 1
      auto operand = [&](size_t i) { return slice(chain.operands[n - i]); };  // in written order
      auto op = [&](size_t i) { return slice(chain.ops[n - 1 - i]); };
      // Grouped as here: a - (b + (c * d)); left to right: ((a - b) + c) * d.
      std::string right = operand(n);
      for (size_t i = n - 1; i >= 1; --i) right = join({"(", operand(i), " ", op(i), " ", right, ")"});
      right = join({operand(0), " ", op(0), " ", right});
      std::string left = operand(0);
      for (size_t i = 0; i < n; ++i) {
        left = i > 0 ? join({"(", left, ") ", op(i), " ", operand(i + 1)}) : join({left, " ", op(i), " ", operand(1)});
      }
      const Range whole{chain.operands.back().start, chain.operands.front().end};
      found.push_back({SyntaxWarning::Kind::RightGrouping,
                       slice(whole) + " groups to the right here: it is " + right + ", not " + left +
                           "; add parentheses to say which is meant",
                       whole.start, whole.end});
    }
    std::stable_sort(found.begin(), found.end(), [](const SyntaxWarning& a, const SyntaxWarning& b) {
      return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
  }
};

}  // namespace

std::string_view warning_kind_name(SyntaxWarning::Kind kind) {
  return kind == SyntaxWarning::Kind::RightGrouping ? "right-grouping" : "self-comparison";
}

Expected<std::vector<SyntaxWarning>, std::string> syntax_warnings(std::string_view text, size_t max_depth) {
  auto compiled = compile_str(text, max_depth);
  if (!compiled.ok()) return unexpected(std::move(compiled.error()));
  Program program;
  std::vector<InstructionSpan> spans;
  WarningObserver observer;
  observer.text = text;
  span_sink::SpanSink<WarningObserver> sink(program, spans, observer);
  lalr::Driver<span_sink::SpanSink<WarningObserver>> driver(text, sink);
  if (!driver.run().ok()) return unexpected(std::string("Internal error: the text could not be read again"));
  observer.finish();
  return std::move(observer.found);
}

}  // namespace vexlor
