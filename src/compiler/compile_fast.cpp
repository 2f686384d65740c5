// The compiler's fast path: an operator-precedence scan over the tokens with an
// explicit stack of pending operators and one of sub-tree depths (no recursion).
// Every binary operator groups to the right, so a pending operator is emitted
// only when one that binds less tightly arrives. The grammar's limits on where
// things may stand are checked on the way, and whatever the scan does not take
// falls back to the LALR parser, which also words every error:
//   - a comparison's operands are additive expressions (comparisons do not chain);
//   - a unary operator applies to a primary (never to another unary);
//   - a conditional is c ? a : b with c and a comparisons and b a conditional,
//     so "and", "or" and "?" cannot stand between its "?" and ":".

#include "compiler/compile_fast.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "parser/driver.hpp"

namespace vexlor {
namespace {

// Binding strength of the binary operators, weakest first; the conditional
// ranks between "and" and the comparisons.
enum Strength : uint8_t { NOT_BINARY = 0, OR = 1, AND = 2, CONDITIONAL = 3, COMPARISON = 4, ADDITIVE = 5, MULTIPLICATIVE = 6, POWER = 7 };

struct BinaryOperator {
  Strength strength = NOT_BINARY;
  OpKind op = OpKind::Add;
};

constexpr std::array<BinaryOperator, TERMINAL_COUNT> make_binary_operators() {
  std::array<BinaryOperator, TERMINAL_COUNT> table{};
  auto set = [&](Terminal t, Strength s, OpKind op) { table[static_cast<size_t>(t)] = {s, op}; };
  set(Terminal::Or, OR, OpKind::Or);
  set(Terminal::And, AND, OpKind::And);
  set(Terminal::EqualEqual, COMPARISON, OpKind::Eq);
  set(Terminal::NotEqual, COMPARISON, OpKind::Ne);
  set(Terminal::Less, COMPARISON, OpKind::Lt);
  set(Terminal::LessEqual, COMPARISON, OpKind::Le);
  set(Terminal::Greater, COMPARISON, OpKind::Gt);
  set(Terminal::GreaterEqual, COMPARISON, OpKind::Ge);
  set(Terminal::Plus, ADDITIVE, OpKind::Add);
  set(Terminal::Minus, ADDITIVE, OpKind::Sub);
  set(Terminal::Star, MULTIPLICATIVE, OpKind::Mul);
  set(Terminal::Slash, MULTIPLICATIVE, OpKind::Div);
  set(Terminal::SlashSlash, MULTIPLICATIVE, OpKind::FloorDiv);
  set(Terminal::Percent, MULTIPLICATIVE, OpKind::Mod);
  set(Terminal::Caret, POWER, OpKind::Pow);
  return table;
}
constexpr auto BINARY_OPERATORS = make_binary_operators();

constexpr unsigned END_OF_TEXT = TERMINAL_COUNT;

struct Tok {
  unsigned terminal = END_OF_TEXT;
  size_t start = 0;
  size_t end = 0;
};

// The tokens of the text, with one token of look-ahead.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text), lexer_(text) {}

  // False for an invalid token.
  bool next(Tok& token) {
    if (has_peeked_) {
      has_peeked_ = false;
      token = peeked_;
      return true;
    }
    return read(token);
  }
  bool peek(Tok& token) {
    if (!has_peeked_) {
      if (!read(peeked_)) return false;
      has_peeked_ = true;
    }
    token = peeked_;
    return true;
  }
  void drop_peeked() { has_peeked_ = false; }
  std::string_view text(const Tok& token) const { return text_.substr(token.start, token.end - token.start); }

 private:
  bool read(Tok& token) {
    const char* const p = text_.data();
    const size_t n = text_.size();
    while (pos_ < n && lexing::char_class(p[pos_]) == lexing::Space) ++pos_;
    if (pos_ == n) {
      token = Tok{END_OF_TEXT, n, n};
      return true;
    }
    lexing::Match m;
    if (lexing::quick_match(text_, pos_, m)) {
      token = Tok{m.index, pos_, pos_ + m.length};
      pos_ += m.length;
      return true;
    }
    lexer_.seek(pos_);
    const LexStep step = lexer_.next();
    if (step.kind == LexStep::Kind::InvalidToken) return false;
    pos_ = lexer_.offset();
    if (step.kind == LexStep::Kind::EndOfInput) {
      token = Tok{END_OF_TEXT, pos_, pos_};
    } else {
      token = Tok{static_cast<unsigned>(step.token.terminal), step.token.start, step.token.end};
    }
    return true;
  }

  std::string_view text_;
  Lexer lexer_;
  size_t pos_ = 0;
  Tok peeked_;
  bool has_peeked_ = false;
};

// An entry of the stack of pending operators.
enum class Mark : uint8_t { Binary, Paren, Call, Question, Colon };

struct Pending {
  Mark mark;
  Strength strength;  // Binary; CONDITIONAL for Question and Colon; NOT_BINARY for Paren and Call
  OpKind op;          // Binary: its instruction; Paren, Call: the unary operator applied to the result
  bool unary;         // Paren, Call: whether there is one
  size_t values;      // Call: the height of the depth stack where its arguments begin
  size_t first;       // Call: start of the name; Question, Colon: index of the JumpIfFalse
  size_t second;      // Call: end of the name; Colon: index of the Jump
};

// A stack in a fixed array that moves to the heap once it outgrows it.
template <class T, size_t INLINE>
class Stack {
 public:
  Stack() = default;
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  T* data() { return data_; }
  T& back() { return data_[size_ - 1]; }
  void push(const T& value) {
    if (size_ == capacity_) [[unlikely]] grow();
    data_[size_++] = value;
  }
  void shrink_to(size_t size) { size_ = size; }

 private:
  void grow() {
    auto bigger = std::make_unique<T[]>(2 * capacity_);
    std::copy(data_, data_ + size_, bigger.get());
    heap_ = std::move(bigger);
    data_ = heap_.get();
    capacity_ *= 2;
  }

  T inline_[INLINE];
  T* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = INLINE;
  std::unique_ptr<T[]> heap_;
};

class Scan {
 public:
  Scan(std::string_view text, Program& program) : tokens_(text), program_(program) {}

  bool run(size_t& depth);

 private:
  bool push_pending(const Pending& pending) {
    pending_.push(pending);
    return true;
  }
  // A complete operand of the given depth, with the pending unary operator applied.
  bool operand(size_t depth, bool unary, OpKind unary_op) {
    if (unary) {
      program_.emplace_back(unary_op);
      ++depth;
    }
    depths_.push(depth);
    return true;
  }
  // Emits pending binary operators and completed conditionals while they bind
  // more tightly than `strength`.
  void emit_pending_above(Strength strength) {
    while (!pending_.empty()) {
      const Pending& top = pending_.back();
      if (top.strength <= strength || (top.mark != Mark::Binary && top.mark != Mark::Colon)) return;
      size_t* d = depths_.data() + depths_.size();
      if (top.mark == Mark::Binary) {
        program_.emplace_back(top.op);
        d[-2] = 1 + std::max(d[-2], d[-1]);
        depths_.shrink_to(depths_.size() - 1);
      } else {
        program_[top.first] = OpCode::jump_if_false(top.second + 1);
        program_[top.second] = OpCode::jump(program_.size());
        d[-3] = 1 + std::max({d[-3], d[-2], d[-1]});
        depths_.shrink_to(depths_.size() - 2);
      }
      pending_.shrink_to(pending_.size() - 1);
    }
  }
  Pending* top() { return pending_.empty() ? nullptr : &pending_.back(); }

  // Reads one operand (a primary, perhaps after a unary operator, or the
  // opening of a parenthesis or a call); `complete` tells which.
  bool read_operand(bool& complete);
  // Handles the token after a complete operand; `operand_next` tells whether an
  // operand must follow, `done` that the text ended.
  bool read_operator(bool& operand_next, bool& done, size_t& depth);

  Tokens tokens_;
  Program& program_;
  Stack<Pending, 64> pending_;
  Stack<size_t, 64> depths_;  // of the complete operands not yet taken by an operator
};

bool Scan::read_operand(bool& complete) {
  Tok token;
  if (!tokens_.next(token)) return false;
  bool unary = false;
  OpKind unary_op = OpKind::Add;
  switch (static_cast<Terminal>(token.terminal)) {
    case Terminal::Plus:
    case Terminal::Minus:
    case Terminal::Not:
      unary = true;
      unary_op = token.terminal == static_cast<unsigned>(Terminal::Plus)    ? OpKind::Pos
                 : token.terminal == static_cast<unsigned>(Terminal::Minus) ? OpKind::Neg
                                                                             : OpKind::Not;
      if (!tokens_.next(token)) return false;
      break;
    default:
      break;
  }
  if (token.terminal == END_OF_TEXT) return false;
  complete = true;
  switch (static_cast<Terminal>(token.terminal)) {
    case Terminal::Number: {
      Decimal value;
      if (!lalr::literal_value(tokens_.text(token), value)) return false;
      program_.push_back(OpCode::push_const(value));
      return operand(1, unary, unary_op);
    }
    case Terminal::Ident: {
      Tok after;
      if (!tokens_.peek(after)) return false;
      if (after.terminal != static_cast<unsigned>(Terminal::LParen)) {
        program_.push_load_var_name(tokens_.text(token));
        return operand(1, unary, unary_op);
      }
      tokens_.drop_peeked();
      if (!tokens_.peek(after)) return false;
      if (after.terminal == static_cast<unsigned>(Terminal::RParen)) {
        tokens_.drop_peeked();
        program_.push_call(tokens_.text(token), 0);
        return operand(1, unary, unary_op);
      }
      complete = false;
      return push_pending(Pending{Mark::Call, NOT_BINARY, unary_op, unary, depths_.size(), token.start, token.end});
    }
    case Terminal::LBrace: {
      Tok uuid, close;
      if (!tokens_.next(uuid) || uuid.terminal != static_cast<unsigned>(Terminal::Uuid)) return false;
      if (!tokens_.next(close) || close.terminal != static_cast<unsigned>(Terminal::RBrace)) return false;
      UuidBytes bytes{};
      if (!try_parse_uuid(tokens_.text(uuid), bytes)) return false;
      program_.push_load_var(VarId::uuid(bytes));
      return operand(1, unary, unary_op);
    }
    case Terminal::LParen:
      complete = false;
      return push_pending(Pending{Mark::Paren, NOT_BINARY, unary_op, unary, 0, 0, 0});
    default:
      return false;
  }
}

bool Scan::read_operator(bool& operand_next, bool& done, size_t& depth) {
  Tok token;
  if (!tokens_.next(token)) return false;
  operand_next = true;
  if (token.terminal == END_OF_TEXT) {
    emit_pending_above(NOT_BINARY);
    if (!pending_.empty() || depths_.size() != 1) return false;
    depth = depths_[0];
    done = true;
    return true;
  }
  const BinaryOperator binary = BINARY_OPERATORS[token.terminal];
  if (binary.strength != NOT_BINARY) {
    emit_pending_above(binary.strength);
    const Pending* below = top();
    if (below != nullptr) {
      if (below->mark == Mark::Question && binary.strength < CONDITIONAL) return false;
      if (below->mark == Mark::Binary && binary.strength == COMPARISON && below->strength == COMPARISON) return false;
    }
    return push_pending(Pending{Mark::Binary, binary.strength, binary.op, false, 0, 0, 0});
  }
  switch (static_cast<Terminal>(token.terminal)) {
    case Terminal::Question: {
      emit_pending_above(CONDITIONAL);
      const Pending* below = top();
      if (below != nullptr && below->mark == Mark::Question) return false;
      const size_t jump_if_false = program_.size();
      program_.push_back(OpCode::jump_if_false(0));
      return push_pending(Pending{Mark::Question, CONDITIONAL, OpKind::Add, false, 0, jump_if_false, 0});
    }
    case Terminal::Colon: {
      emit_pending_above(CONDITIONAL);
      Pending* question = top();
      if (question == nullptr || question->mark != Mark::Question) return false;
      question->mark = Mark::Colon;
      question->second = program_.size();
      program_.push_back(OpCode::jump(0));
      return true;
    }
    case Terminal::Comma: {
      emit_pending_above(NOT_BINARY);
      return !pending_.empty() && pending_.back().mark == Mark::Call;
    }
    case Terminal::RParen: {
      emit_pending_above(NOT_BINARY);
      if (pending_.empty()) return false;
      const Pending closed = pending_.back();
      size_t inner;
      if (closed.mark == Mark::Paren) {
        inner = depths_.back();
        depths_.shrink_to(depths_.size() - 1);
      } else if (closed.mark == Mark::Call) {
        const size_t first = closed.values;
        const size_t count = depths_.size() - first;
        inner = 1 + *std::max_element(depths_.data() + first, depths_.data() + depths_.size());
        depths_.shrink_to(first);
        program_.push_call(tokens_.text(Tok{0, closed.first, closed.second}), count);
      } else {
        return false;
      }
      pending_.shrink_to(pending_.size() - 1);
      operand_next = false;
      return operand(inner, closed.unary, closed.op);
    }
    default:
      return false;
  }
}

bool Scan::run(size_t& depth) {
  bool operand_next = true;
  bool done = false;
  while (!done) {
    if (operand_next) {
      bool complete = false;
      if (!read_operand(complete)) return false;
      operand_next = !complete;
    } else {
      if (!read_operator(operand_next, done, depth)) return false;
    }
  }
  return true;
}

}  // namespace

bool compile_fast(std::string_view text, Program& program, size_t& depth) { return Scan(text, program).run(depth); }

}  // namespace vexlor
