#pragma once
// The expression front end: the lexer, the syntax tree and the parser.
//
//   auto tree = vexlor::parse("a + b * 2");
//   if (!tree) report(tree.error().to_string());
//
// Trees may be as deep as their text is long (a chain of a million additions
// nests a million levels), so nothing here recurses over a tree: `Expr`'s
// destructor dismantles its sub-trees with an explicit stack.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "decimal/decimal.hpp"
#include "parser/varid.hpp"
#include "util/expected.hpp"

namespace vexlor {

// ---------------------------------------------------------------- lexer

// The 26 terminals in their fixed order; the order is that of expected lists.
enum class Terminal : uint8_t {
  Number,      // NUMBER
  Uuid,        // UUID (lower-case hyphenated, 36 characters)
  Ident,       // IDENT
  NotEqual,    // "!="
  Percent,     // "%"
  LParen,      // "("
  RParen,      // ")"
  Star,        // "*"
  Plus,        // "+"
  Comma,       // ","
  Minus,       // "-"
  Slash,       // "/"
  SlashSlash,  // "//"
  Colon,       // ":"
  Less,        // "<"
  LessEqual,   // "<="
  EqualEqual,  // "=="
  Greater,     // ">"
  GreaterEqual,  // ">="
  Question,    // "?"
  Caret,       // "^"
  And,         // "and"
  Not,         // "not"
  Or,          // "or"
  LBrace,      // "{"
  RBrace,      // "}"
};
inline constexpr size_t TERMINAL_COUNT = 26;

// The text error messages print for a terminal (quoted for the fixed ones).
std::string_view terminal_display(Terminal terminal);

// A token: byte offsets into the UTF-8 text (end exclusive) and the matched slice.
struct Token {
  size_t start = 0;
  Terminal terminal = Terminal::Number;
  std::string_view text;
  size_t end = 0;
};

struct LexStep {
  enum class Kind : uint8_t { Token, InvalidToken, EndOfInput };
  Kind kind = Kind::EndOfInput;
  Token token;        // Token
  size_t offset = 0;  // InvalidToken: where no pattern matches
};

// Cuts a text into tokens on demand, skipping whitespace. Longest match wins;
// between patterns matching the same length, the higher terminal index wins.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}
  LexStep next();
  size_t offset() const { return pos_; }
  // Continues from byte `offset` (a token boundary), for a scanner that has
  // taken the tokens before it itself.
  void seek(size_t offset) { pos_ = offset; }

 private:
  // From `pos` on, where the common cases of next() do not decide.
  LexStep next_slow(size_t pos);

  std::string_view text_;
  size_t pos_ = 0;
};

// ---------------------------------------------------------------- syntax tree

enum class ExprKind : uint8_t {
  Number,    // number()
  Var,       // var()
  Call,      // call_name(), children = arguments
  Add,       // children: left, right
  Sub,
  Mul,
  Div,
  FloorDiv,
  Mod,
  Pow,       // children: base, exponent
  Pos,       // children: operand
  Neg,
  Not,
  Eq,        // children: left, right
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  And,
  Or,
  Ternary,   // children: condition, then-branch, else-branch
};
inline constexpr size_t EXPR_KIND_COUNT = 22;

class Expr;
using ExprPtr = std::unique_ptr<Expr>;

// One node of a syntax tree; it owns its children. Read-only once built.
// Nodes come from a small per-thread cache of freed nodes before the general
// allocator, since a parse makes and a compile releases one node per operand.
class Expr final {
 public:
  static ExprPtr number(Decimal value) { return ExprPtr(new Expr(ExprKind::Number, std::in_place_type<Decimal>, value)); }
  static ExprPtr var(VarId id);
  static ExprPtr call(std::string name, std::vector<ExprPtr> args);
  static ExprPtr unary(ExprKind kind, ExprPtr operand) {  // Pos, Neg, Not
    assert(operand_count(kind) == 1);
    Expr* e = new Expr(kind);
    e->operands_[0] = operand.release();
    return ExprPtr(e);
  }
  static ExprPtr binary(ExprKind kind, ExprPtr left, ExprPtr right) {  // Add .. Pow, Eq .. Or
    assert(operand_count(kind) == 2);
    Expr* e = new Expr(kind);
    e->operands_[0] = left.release();
    e->operands_[1] = right.release();
    return ExprPtr(e);
  }
  static ExprPtr ternary(ExprPtr condition, ExprPtr then_branch, ExprPtr else_branch) {
    Expr* e = new Expr(ExprKind::Ternary);
    e->operands_[0] = condition.release();
    e->operands_[1] = then_branch.release();
    e->operands_[2] = else_branch.release();
    return ExprPtr(e);
  }

  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
  ~Expr();  // iterative: never recurses as deep as the tree

  static void* operator new(size_t size);
  static void operator delete(void* node);

  ExprKind kind() const { return kind_; }
  const Decimal& number() const { return std::get<Decimal>(payload_); }       // Number
  const VarId& var() const { return std::get<VarId>(payload_); }              // Var
  const std::string& call_name() const { return std::get<std::string>(payload_); }  // Call

  // Operands in written order, or the arguments of a Call.
  // A node whose children were released has none.
  size_t child_count() const {
    if (kind_ == ExprKind::Call) return args_.size();
    return operands_[0] ? operand_count(kind_) : 0;
  }
  const Expr& child(size_t i) const { return kind_ == ExprKind::Call ? *args_[i] : *operands_[i]; }

  // Number of operands of a non-Call kind: 0 for Number and Var, 1 for Pos, Neg
  // and Not, 3 for Ternary, 2 for the others.
  static size_t operand_count(ExprKind kind) { return OPERAND_COUNTS[static_cast<size_t>(kind)]; }

  // Moves every child of this node to the back of `out`, leaving it childless.
  // This is the tool for dismantling or rebuilding trees without recursion.
  void release_children(std::vector<ExprPtr>& out);

  // Builds a Var node with a Name identity, the text copied once.
  static ExprPtr var_name(std::string_view name);

 private:
  static constexpr uint8_t OPERAND_COUNTS[EXPR_KIND_COUNT] = {
      0, 0, 0,                 // Number, Var, Call
      2, 2, 2, 2, 2, 2, 2,     // Add .. Pow
      1, 1, 1,                 // Pos, Neg, Not
      2, 2, 2, 2, 2, 2, 2, 2,  // Eq .. Or
      3,                       // Ternary
  };

  explicit Expr(ExprKind kind) : kind_(kind) {}
  template <class... Payload>
  Expr(ExprKind kind, Payload&&... payload) : kind_(kind), payload_(std::forward<Payload>(payload)...) {}
  bool has_children() const { return operands_[0] != nullptr || !args_.empty(); }

  ExprKind kind_;
  // Owned: released by the destructor's work stack or by release_children().
  std::array<Expr*, 3> operands_{};
  std::vector<ExprPtr> args_;
  std::variant<std::monostate, Decimal, VarId, std::string> payload_;
};

// A one-line rendering of a tree, e.g. "Add(Var(a), Mul(Var(b), Number(2)))";
// iterative, for tests and diagnostics.
std::string describe(const Expr& tree);

// ---------------------------------------------------------------- parser

struct ParseError {
  enum class Kind : uint8_t { InvalidToken, UnrecognizedEof, UnrecognizedToken, ActionError };

  Kind kind = Kind::InvalidToken;
  size_t location = 0;      // InvalidToken, UnrecognizedEof; the token's start for UnrecognizedToken
  size_t end = 0;           // UnrecognizedToken: the token's end
  std::string token;        // UnrecognizedToken: the matched text
  std::vector<std::string_view> expected;  // display strings, in terminal order
  std::string_view message;  // ActionError

  std::string to_string() const;
};

// "Invalid decimal literal": the one error a grammar action raises.
inline constexpr std::string_view INVALID_DECIMAL_LITERAL = "Invalid decimal literal";

// Parses one expression. On failure everything built so far is released.
Expected<ExprPtr, ParseError> parse(std::string_view text);

}  // namespace vexlor
