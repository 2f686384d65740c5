#pragma once
// The instruction set of the stack machine. A program is a sequence of OpCode,
// addressed by index from 0. One instruction is 24 bytes: its kind plus either a
// Decimal constant, or a size operand and (LoadVar, Call) a pointer to an owned
// operand block. Copying an instruction copies its operands.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/decimal.hpp"
#include "parser/varid.hpp"

namespace vexlor {

// The 23 variants in their fixed declared order.
enum class OpKind : uint8_t {
  PushConst,
  LoadVar,
  Add,
  Sub,
  Mul,
  Div,
  FloorDiv,
  Mod,
  Pow,
  Neg,
  Pos,
  Not,
  And,
  Or,
  Eq,
  Ne,
  Lt,
  Le,
  Gt,
  Ge,
  Jump,
  JumpIfFalse,
  Call,
};

inline constexpr size_t OP_KIND_COUNT = 23;

// Variant names in declared order ("PushConst", "LoadVar", "Add", ..., "Call").
inline constexpr std::array<std::string_view, OP_KIND_COUNT> OP_NAMES = {
    "PushConst", "LoadVar", "Add", "Sub", "Mul", "Div", "FloorDiv", "Mod",         "Pow", "Neg", "Pos", "Not",
    "And",       "Or",      "Eq",  "Ne",  "Lt",  "Le",  "Gt",       "Ge",          "Jump", "JumpIfFalse", "Call"};

constexpr std::string_view op_name(OpKind k) { return OP_NAMES[static_cast<size_t>(k)]; }
// True for the 18 variants without operands (Add .. Ge).
constexpr bool op_has_no_operand(OpKind k) { return k >= OpKind::Add && k <= OpKind::Ge; }

// Index of a built-in function name in the fixed table of the virtual machine,
// or NO_FUNCTION_SLOT. The name is still looked up by text whenever a table other
// than the built-in one is used; the slot only saves the text lookup.
inline constexpr uint8_t NO_FUNCTION_SLOT = 0xFF;
inline constexpr size_t FUNCTION_SLOT_COUNT = 11;
inline constexpr std::array<std::string_view, FUNCTION_SLOT_COUNT> FUNCTION_SLOT_NAMES = {
    "add", "mul", "max", "round", "sqrt", "min", "abs", "floor", "ceil", "sum", "average"};
uint8_t function_slot(std::string_view name);

// A VarId in three words for a quick equality test: the UUID's bytes, or the
// name's first 16 bytes zero-padded, and a tag of kind and length. Different
// VarIds never pack equal; equal packs are equal VarIds unless LONG_NAME is set
// (a name longer than 16 bytes, whose rest must be compared).
struct PackedVarId {
  static constexpr uint64_t LONG_NAME = uint64_t{1} << 63;
  uint64_t w0 = 0, w1 = 0;
  uint64_t tag = 0;
  bool operator==(const PackedVarId&) const = default;
};
PackedVarId pack_var_id(const VarId& id);
PackedVarId pack_name(std::string_view name);  // pack_var_id of the Name with this text

struct LoadVarOperand {
  VarId var;
  uint64_t hash;        // var.hash(), computed once
  PackedVarId packed;   // pack_var_id(var)
};

struct CallOperand {
  std::string name;
  uint8_t slot;  // function_slot(name)
};

class OpCode {
 public:
  // An operandless instruction (Add .. Ge); PushConst 0 / Jump 0 etc. for the others.
  explicit OpCode(OpKind kind = OpKind::Add);
  static OpCode push_const(const Decimal& value);
  static OpCode load_var(VarId var);
  static OpCode jump(size_t target);
  static OpCode jump_if_false(size_t target);
  static OpCode call(std::string name, size_t arg_count);

  OpCode(const OpCode& other);
  OpCode(OpCode&& other) noexcept;
  OpCode& operator=(const OpCode& other);
  OpCode& operator=(OpCode&& other) noexcept;
  ~OpCode();

  OpKind kind() const { return kind_; }
  std::string_view name() const { return op_name(kind_); }

  const Decimal& constant() const { return u_.constant; }                  // PushConst
  const VarId& var() const { return as_load()->var; }                       // LoadVar
  uint64_t var_hash() const { return as_load()->hash; }                     // LoadVar
  const LoadVarOperand& var_operand() const { return *as_load(); }          // LoadVar
  size_t target() const { return u_.s.size; }                               // Jump, JumpIfFalse
  const std::string& call_name() const { return as_call()->name; }          // Call
  uint8_t call_slot() const { return as_call()->slot; }                     // Call
  size_t arg_count() const { return u_.s.size; }                            // Call

  // Instruction equality: same variant; constants compare numerically, variables by
  // kind and bytes, jumps by target, calls by name and argument count.
  bool operator==(const OpCode& other) const;

 private:
  const LoadVarOperand* as_load() const { return static_cast<const LoadVarOperand*>(u_.s.ptr); }
  const CallOperand* as_call() const { return static_cast<const CallOperand*>(u_.s.ptr); }
  void copy_from(const OpCode& other);
  void destroy();

  struct Slots {
    size_t size;
    void* ptr;
  };
  union Payload {
    Decimal constant;
    Slots s;
    Payload() : s{0, nullptr} {}
  };
  OpKind kind_;
  Payload u_;
};

using Program = std::vector<OpCode>;

// Program equality: same length and equal instructions at every index.
bool programs_equal(const Program& a, const Program& b);

}  // namespace vexlor
