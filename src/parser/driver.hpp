#pragma once
// The LALR(1) parse driver, shared by the parser, which builds a syntax tree,
// and the compiler, which emits code straight from the reductions (an LR parse
// reduces in post-order, the order in which code is emitted).
//
// The driver runs the generated automaton over the tokens and tracks the depth
// of every sub-tree; what a reduction makes is up to its Sink:
//
//   struct Sink {
//     // Whether the driver tracks depths and Args counts for it, and calls
//     // on_shift; the tree needs neither.
//     static constexpr bool WANTS_DEPTH = ...;
//     // A '?' or ':' was shifted; the value is kept in the token's entry (start).
//     size_t on_shift(Terminal terminal);
//     // Reduces by `rule` (never a pass-through rule): v[0..] are the popped
//     // entries, `result` the new one (with WANTS_DEPTH the driver has set its
//     // depth and, for Args, its count). False if the rule's action fails.
//     bool reduce(Rule rule, Entry* v, Entry& result, std::string_view text);
//   };
//
// The parse stack is an array in the driver for shallow texts and on the heap
// beyond, so nesting depth costs memory, never native stack.

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parser/lexer_fast.hpp"
#include "parser/parser.hpp"

namespace vexlor {
namespace grammar {

inline constexpr int16_t ACCEPT = INT16_MAX;
#include "parser/grammar_tables.inc"

static_assert(static_cast<size_t>(TERMINAL_COUNT) == vexlor::TERMINAL_COUNT);
static_assert(STATE_COUNT <= 255, "states are kept as bytes");

inline constexpr int EOF_COLUMN = TERMINAL_COUNT;

}  // namespace grammar

namespace lalr {

using grammar::Rule;
using State = uint8_t;

// One entry of the parse stack: the automaton's state and the value of the
// symbol that led to it (entry 0 holds the start state and no symbol). The value
// is a token's position (terminals), a sub-tree (owned by the stack until a
// reduction hands it on, or none when the sink makes no tree) with its depth,
// or for Args the number of arguments and the depth of the deepest one.
// Entries are plain data, so the stack moves them with memcpy.
struct Entry {
  size_t start;  // Args: the argument count; '?' and ':': the sink's value
  size_t end;    // sub-trees and Args: the depth
  Expr* expr;
  State state;
};

// The terminals the automaton would accept next, as display strings; `stack`
// holds `size` entries.
std::vector<std::string_view> expected_terminals(const Entry* stack, size_t size);

// The value of a NUMBER token, false if it is out of range.
inline bool literal_value(std::string_view literal, Decimal& value) {
  auto plain = Decimal::from_str(literal);
  if (plain) {
    value = *plain;
    return true;
  }
  auto scientific = Decimal::from_scientific(literal);
  if (!scientific) return false;
  value = *scientific;
  return true;
}

// Rules whose action passes its single child on: reducing by them changes only
// the state of the top entry.
constexpr bool passes_child_on(Rule rule) {
  switch (rule) {
    case Rule::ExprDisjunction:
    case Rule::DisjunctionConjunction:
    case Rule::ConjunctionConditional:
    case Rule::ConditionalComparison:
    case Rule::ComparisonAdditive:
    case Rule::AdditiveMultiplicative:
    case Rule::MultiplicativeExponent:
    case Rule::ExponentUnary:
    case Rule::UnaryPrimary:
    case Rule::PrimaryLiteral:
    case Rule::PrimaryVariable:
      return true;
    default:
      return false;
  }
}

// The left-hand side of each rule that passes its child on, as a GOTO column;
// NO_PASS_THROUGH for the others.
inline constexpr uint8_t NO_PASS_THROUGH = 0xFF;
constexpr std::array<uint8_t, std::size(grammar::RULE_SHAPES)> make_pass_through() {
  std::array<uint8_t, std::size(grammar::RULE_SHAPES)> table{};
  for (size_t r = 0; r < table.size(); ++r) {
    table[r] = passes_child_on(static_cast<Rule>(r)) ? static_cast<uint8_t>(grammar::RULE_SHAPES[r].lhs)
                                                     : NO_PASS_THROUGH;
  }
  return table;
}
inline constexpr auto PASS_THROUGH_LHS = make_pass_through();

// A pass-through reduction replaces the top state s by GOTO[b][lhs], b being
// the state below it, and often leads to another one on the same lookahead
// (a number climbs from Literal up to Additive, say). The whole run depends
// only on b, the symbol that s stands for and the lookahead, so it is
// worked out here once: PASS_THROUGH_END[b][X][column] is the state where the
// run of pass-through reductions stops, for the top state GOTO[b][X].
inline constexpr uint8_t NO_SYMBOL = 0xFF;
constexpr std::array<uint8_t, grammar::STATE_COUNT> make_nonterminal_of_state() {
  std::array<uint8_t, grammar::STATE_COUNT> symbol{};
  symbol.fill(NO_SYMBOL);
  for (int b = 0; b < grammar::STATE_COUNT; ++b) {
    for (int x = 0; x < grammar::NONTERMINAL_COUNT; ++x) {
      if (grammar::GOTO[b][x] != 0) symbol[grammar::GOTO[b][x]] = static_cast<uint8_t>(x);
    }
  }
  return symbol;
}
// The nonterminal on top of the stack in each state (NO_SYMBOL for states
// entered by a shift). The start state is no GOTO target, so 0 means none.
inline constexpr auto NONTERMINAL_OF_STATE = make_nonterminal_of_state();

inline constexpr int COLUMN_COUNT = grammar::TERMINAL_COUNT + 1;

// Every state has one symbol on top (an LR automaton's states each have one
// accessing symbol), and a pass-through reduction happens only with a
// nonterminal on top: so the lookup below is always defined.
constexpr bool pass_through_lookup_defined() {
  for (int b = 0; b < grammar::STATE_COUNT; ++b) {
    for (int x = 0; x < grammar::NONTERMINAL_COUNT; ++x) {
      const State s = grammar::GOTO[b][x];
      if (s != 0 && NONTERMINAL_OF_STATE[s] != x) return false;
    }
  }
  for (int s = 0; s < grammar::STATE_COUNT; ++s) {
    for (int column = 0; column < COLUMN_COUNT; ++column) {
      const int16_t action = grammar::ACTION[s][column];
      if (action < 0 && PASS_THROUGH_LHS[static_cast<size_t>(-action - 1)] != NO_PASS_THROUGH &&
          NONTERMINAL_OF_STATE[s] == NO_SYMBOL) {
        return false;
      }
    }
  }
  return true;
}
static_assert(pass_through_lookup_defined());

// PASS_THROUGH_END[b][X][column]: the state where the run of pass-through
// reductions stops, from the top state GOTO[b][X] over the state b. Rows are
// padded to powers of two so that the look-up needs no multiplication.
inline constexpr size_t PASS_THROUGH_COLUMNS = 32;
inline constexpr size_t PASS_THROUGH_SYMBOLS = 16;
static_assert(COLUMN_COUNT <= static_cast<int>(PASS_THROUGH_COLUMNS));
static_assert(grammar::NONTERMINAL_COUNT <= static_cast<int>(PASS_THROUGH_SYMBOLS));
using PassThroughEnds =
    std::array<std::array<std::array<State, PASS_THROUGH_COLUMNS>, PASS_THROUGH_SYMBOLS>, grammar::STATE_COUNT>;
constexpr PassThroughEnds make_pass_through_ends() {
  PassThroughEnds ends{};
  for (int b = 0; b < grammar::STATE_COUNT; ++b) {
    for (int x = 0; x < grammar::NONTERMINAL_COUNT; ++x) {
      const State start = grammar::GOTO[b][x];
      if (start == 0) continue;
      for (int column = 0; column < COLUMN_COUNT; ++column) {
        State s = start;
        for (;;) {
          const int16_t action = grammar::ACTION[s][column];
          if (action >= 0) break;
          const uint8_t lhs = PASS_THROUGH_LHS[static_cast<size_t>(-action - 1)];
          if (lhs == NO_PASS_THROUGH) break;
          s = grammar::GOTO[b][lhs];
        }
        ends[b][x][column] = s;
      }
    }
  }
  return ends;
}
inline constexpr PassThroughEnds PASS_THROUGH_END = make_pass_through_ends();

// The action table with rows of 32 entries, so that the driver's hot loop finds
// a row by shifting the state instead of multiplying it.
inline constexpr size_t ACTION_ROW = 32;
static_assert(COLUMN_COUNT <= static_cast<int>(ACTION_ROW));
using WideActions = std::array<std::array<int16_t, ACTION_ROW>, grammar::STATE_COUNT>;
constexpr WideActions make_wide_actions() {
  WideActions actions{};
  for (int s = 0; s < grammar::STATE_COUNT; ++s) {
    for (int column = 0; column < COLUMN_COUNT; ++column) actions[s][column] = grammar::ACTION[s][column];
  }
  return actions;
}
inline constexpr WideActions WIDE_ACTIONS = make_wide_actions();

// The depth of the node a reduction makes, and the Args count.
inline void measure_reduction(Rule rule, const Entry* v, Entry& result) {
  switch (rule) {
    case Rule::ConditionalTernary:
      result.end = 1 + std::max({v[0].end, v[2].end, v[4].end});
      return;
    case Rule::UnaryPos:
    case Rule::UnaryNeg:
    case Rule::UnaryNot:
      result.end = 1 + v[1].end;
      return;
    case Rule::PrimaryCall:
      result.end = 1 + v[2].end;
      return;
    case Rule::PrimaryParens:
      result.end = v[1].end;
      return;
    case Rule::PrimaryCallEmpty:
    case Rule::VariableUuid:
    case Rule::VariableName:
    case Rule::LiteralNumber:
      result.end = 1;
      return;
    case Rule::ArgsMore:
      result.start = v[2].start + 1;
      result.end = std::max(v[0].end, v[2].end);
      return;
    case Rule::ArgsOne:
      result.start = 1;
      result.end = v[0].end;
      return;
    default:  // the two-operand rules
      result.end = 1 + std::max(v[0].end, v[2].end);
      return;
  }
}

template <class Sink>
class Driver {
 public:
  Driver(std::string_view text, Sink& sink) : text_(text), lexer_(text), sink_(sink) {
    base_ = inline_entries_;
    top_ = base_;
    limit_ = base_ + INLINE_ENTRIES;
    *top_ = Entry{};  // the start state
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  ~Driver() {  // drops whatever partial trees remain
    for (Entry* entry = base_; entry <= top_; ++entry) delete entry->expr;
  }

  // On success the root's entry; its tree now belongs to the caller.
  Expected<Entry, ParseError> run();

 private:
  // Typical expressions never nest deeper; deeper ones move to the heap.
  static constexpr size_t INLINE_ENTRIES = 64;

  size_t size() const { return static_cast<size_t>(top_ - base_) + 1; }
  void push(const Entry& entry) {
    if (top_ + 1 == limit_) grow();
    *++top_ = entry;
  }
  void grow();
  // Applies `rule` to the top of the stack; false if its action fails.
  bool reduce(Rule rule) {
    const grammar::RuleShape& shape = grammar::RULE_SHAPES[static_cast<size_t>(rule)];
    Entry* v = top_ + 1 - shape.length;
    if (PASS_THROUGH_LHS[static_cast<size_t>(rule)] != NO_PASS_THROUGH) {
      // A single child passes through: only the state changes. (run() takes
      // whole runs of these at once and does not come here for them.)
      v[0].state = grammar::GOTO[v[-1].state][static_cast<size_t>(shape.lhs)];
      return true;
    }
    Entry result{};
    if constexpr (Sink::WANTS_DEPTH) measure_reduction(rule, v, result);
    if (!sink_.reduce(rule, v, result, text_)) return false;
    // The popped entries own nothing now: their trees went into `result`.
    top_ = v;
    result.state = grammar::GOTO[v[-1].state][static_cast<size_t>(shape.lhs)];
    *top_ = result;
    return true;
  }
  ParseError error_here(ParseError::Kind kind) const {
    ParseError error;
    error.kind = kind;
    error.expected = expected_terminals(base_, size());
    return error;
  }

  std::string_view text_;
  Lexer lexer_;
  Sink& sink_;
  // The parse stack: entries base_[0] to *top_, room up to limit_; in
  // inline_entries_ first, in heap_ once it outgrows them.
  Entry* base_;
  Entry* top_;
  Entry* limit_;
  std::unique_ptr<Entry[]> heap_;
  Entry inline_entries_[INLINE_ENTRIES];
};

template <class Sink>
void Driver<Sink>::grow() {
  // Each entry above the start state holds a token or stands for tokens, so
  // the stack never needs more than one entry per byte of text plus one: the
  // room doubles up to that bound, and takes all of it once it is near.
  const size_t used = size();
  const size_t bound = text_.size() + 1;
  size_t capacity = std::min(2 * used, bound);
  if (bound - capacity < capacity / 4) capacity = bound;
  capacity = std::max(capacity, used + 1);
  std::unique_ptr<Entry[]> bigger(new Entry[capacity]);
  std::copy(base_, base_ + used, bigger.get());
  heap_ = std::move(bigger);
  base_ = heap_.get();
  top_ = base_ + used - 1;
  limit_ = base_ + capacity;
}

template <class Sink>
Expected<Entry, ParseError> Driver<Sink>::run() {
  const char* const p = text_.data();
  const size_t n = text_.size();
  size_t pos = 0;  // where the next token is looked for
  size_t last_location = 0;
  for (;;) {
    // The next token: the common cases scanned here, the others by the lexer.
    while (pos < n && lexing::char_class(p[pos]) == lexing::Space) ++pos;
    Token token;
    bool at_end = pos == n;
    lexing::Match m;
    if (!at_end && lexing::quick_match(text_, pos, m)) {
      token.start = pos;
      token.terminal = static_cast<Terminal>(m.index);
      pos += m.length;
      token.end = pos;
    } else if (!at_end) {
      lexer_.seek(pos);
      const LexStep step = lexer_.next();
      if (step.kind == LexStep::Kind::InvalidToken) {
        ParseError error;
        error.kind = ParseError::Kind::InvalidToken;
        error.location = step.offset;
        return unexpected(std::move(error));
      }
      at_end = step.kind == LexStep::Kind::EndOfInput;
      token = step.token;
      pos = lexer_.offset();
    }
    if (!at_end) last_location = token.end;
    int column = at_end ? grammar::EOF_COLUMN : static_cast<int>(token.terminal);
    for (;;) {
      int16_t action = WIDE_ACTIONS[top_->state][column];
      if (action < 0) {
        const uint8_t lhs = PASS_THROUGH_LHS[static_cast<size_t>(-action - 1)];
        if (lhs != NO_PASS_THROUGH) {  // the common case: the whole run at once, in place
          top_->state = PASS_THROUGH_END[top_[-1].state][NONTERMINAL_OF_STATE[top_->state]][column];
          continue;
        }
      }
      if (action == grammar::ACCEPT) {
        const Entry root = *top_;
        top_->expr = nullptr;
        return root;
      }
      if (action > 0) {
        size_t start = token.start;
        if constexpr (Sink::WANTS_DEPTH) {
          if (token.terminal == Terminal::Question || token.terminal == Terminal::Colon) {
            start = sink_.on_shift(token.terminal);
          }
        }
        push(Entry{start, token.end, nullptr, static_cast<State>(action - 1)});
        break;
      }
      if (action < 0) {
        if (!reduce(static_cast<Rule>(-action - 1))) {
          ParseError error;
          error.kind = ParseError::Kind::ActionError;
          error.message = INVALID_DECIMAL_LITERAL;
          return unexpected(std::move(error));
        }
        continue;
      }
      if (at_end) {
        ParseError error = error_here(ParseError::Kind::UnrecognizedEof);
        error.location = last_location;
        return unexpected(std::move(error));
      }
      ParseError error = error_here(ParseError::Kind::UnrecognizedToken);
      error.location = token.start;
      error.end = token.end;
      error.token = std::string(text_.substr(token.start, token.end - token.start));
      return unexpected(std::move(error));
    }
  }
}

}  // namespace lalr
}  // namespace vexlor
