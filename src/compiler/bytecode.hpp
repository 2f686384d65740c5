#pragma once
// The instruction set of the stack machine. A program is a sequence of OpCode,
// addressed by index from 0. One instruction is 24 bytes: its kind plus either a
// Decimal constant, or a size operand and (LoadVar, Call) a pointer to an operand
// block. A lone instruction owns its block on the heap; inside a Program the
// blocks usually live in the program's own storage, next to the instructions.
// Copying an instruction or a program copies its operands.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <utility>
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
  explicit OpCode(OpKind kind = OpKind::Add) : kind_(kind) {
    if (kind == OpKind::PushConst) {
      new (&u_.constant) Decimal();
    } else if (has_block(kind)) {
      make_empty_block();
    }
  }
  static OpCode push_const(const Decimal& value) {
    OpCode op(OpKind::PushConst);
    op.u_.constant = value;
    return op;
  }
  static OpCode load_var(VarId var);
  static OpCode jump(size_t target) { return with_size(OpKind::Jump, target); }
  static OpCode jump_if_false(size_t target) { return with_size(OpKind::JumpIfFalse, target); }
  static OpCode call(std::string name, size_t arg_count);

  OpCode(const OpCode& other) : kind_(other.kind_), u_(other.u_) {
    if (has_block(kind_)) copy_block(other);
  }
  // A block in a program's storage stays there: the new instruction gets its own copy.
  OpCode(OpCode&& other) noexcept : kind_(other.kind_), u_(other.u_) {
    if (has_block(kind_)) {
      if (other.pooled_) {
        copy_block(other);
      } else {
        other.kind_ = OpKind::Add;  // the block now belongs to this instruction
      }
    }
  }
  OpCode& operator=(const OpCode& other);
  OpCode& operator=(OpCode&& other) noexcept;
  ~OpCode() {
    if (has_block(kind_)) destroy_block();
  }

  OpKind kind() const { return kind_; }
  std::string_view name() const { return op_name(kind_); }

  const Decimal& constant() const { return u_.constant; }                  // PushConst
  const VarId& var() const { return as_load()->var; }                       // LoadVar
  uint64_t var_hash() const { return u_.s.word; }  // LoadVar: var().hash(), kept in the instruction itself
  const LoadVarOperand& var_operand() const { return *as_load(); }          // LoadVar
  size_t target() const { return static_cast<size_t>(u_.s.word); }          // Jump, JumpIfFalse
  const std::string& call_name() const { return as_call()->name; }          // Call
  uint8_t call_slot() const { return as_call()->slot; }                     // Call
  size_t arg_count() const { return static_cast<size_t>(u_.s.word); }       // Call

  // Instruction equality: same variant; constants compare numerically, variables by
  // kind and bytes, jumps by target, calls by name and argument count.
  bool operator==(const OpCode& other) const;

 private:
  friend class Program;
  static constexpr bool has_block(OpKind k) { return k == OpKind::LoadVar || k == OpKind::Call; }
  const LoadVarOperand* as_load() const { return static_cast<const LoadVarOperand*>(u_.s.ptr); }
  const CallOperand* as_call() const { return static_cast<const CallOperand*>(u_.s.ptr); }
  static OpCode with_size(OpKind kind, size_t size) {
    OpCode op(kind);
    op.u_.s.word = size;
    return op;
  }
  void make_empty_block();                // LoadVar of the empty name, Call of ""
  void copy_block(const OpCode& other);   // a heap copy of other's block, in place of the copied pointer
  void destroy_block();
  void take_from(OpCode& other);  // `other` neither pooled nor this

  // `word`: a LoadVar's 64-bit hash, a jump's target or a call's argument count.
  struct Slots {
    uint64_t word;
    void* ptr;
  };
  union Payload {
    Decimal constant;
    Slots s;
    Payload() : s{0, nullptr} {}
  };
  OpKind kind_;
  // The operand block belongs to the storage of the Program holding this
  // instruction: destroying the instruction ends the block's life but frees no
  // memory, and moving it out of the program copies the block.
  bool pooled_ = false;
  Payload u_;
};

// An owned sequence of instructions with the interface of a vector. Operand
// blocks of the instructions it makes itself (copies, push_load_var, push_call)
// are carved from storage it owns, so that a compiled program costs one
// allocation; copies are deep and independent, and a const Program may be read
// from many threads at once.
class Program {
 public:
  using value_type = OpCode;
  using size_type = size_t;
  using difference_type = ptrdiff_t;
  using reference = OpCode&;
  using const_reference = const OpCode&;
  using pointer = OpCode*;
  using const_pointer = const OpCode*;
  using iterator = OpCode*;
  using const_iterator = const OpCode*;

  Program() noexcept = default;
  Program(std::initializer_list<OpCode> ops);
  Program(const Program& other);
  Program(Program&& other) noexcept;
  Program& operator=(const Program& other);
  Program& operator=(Program&& other) noexcept;
  ~Program();

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }
  const OpCode* data() const { return ops_; }
  OpCode* data() { return ops_; }
  const OpCode* begin() const { return ops_; }
  const OpCode* end() const { return ops_ + size_; }
  OpCode* begin() { return ops_; }
  OpCode* end() { return ops_ + size_; }
  const OpCode& operator[](size_t i) const { return ops_[i]; }
  OpCode& operator[](size_t i) { return ops_[i]; }
  const OpCode& front() const { return ops_[0]; }
  OpCode& front() { return ops_[0]; }
  const OpCode& back() const { return ops_[size_ - 1]; }
  OpCode& back() { return ops_[size_ - 1]; }

  // Room for `count` instructions.
  void reserve(size_t count);
  // Room for `count` instructions of which `load_vars` are LoadVar and `calls`
  // Call, with their operand blocks, in one allocation when nothing is stored yet.
  void reserve(size_t count, size_t load_vars, size_t calls);

  void push_back(const OpCode& op);
  void push_back(OpCode&& op) {
    if (size_ < capacity_ && !(op.pooled_ && OpCode::has_block(op.kind_))) {
      new (ops_ + size_) OpCode(std::move(op));
      ++size_;
      mark_end();
    } else {
      push_back_slow(std::move(op));
    }
  }
  template <class... Args>
  OpCode& emplace_back(Args&&... args) {
    if (size_ < capacity_) {
      new (ops_ + size_) OpCode(std::forward<Args>(args)...);
      ++size_;
      mark_end();
    } else {
      OpCode op(std::forward<Args>(args)...);
      push_back_slow(std::move(op));
    }
    return back();
  }
  // Appends LoadVar `var` / Call `name` with `arg_count` arguments, the operand
  // block in the program's storage.
  void push_load_var(const VarId& var);
  void push_load_var_name(std::string_view name);  // LoadVar of the Name `name`
  void push_call(std::string_view name, size_t arg_count);
  // Drops every instruction and all storage.
  void clear() noexcept;

  // Program equality: same length and equal instructions at every index.
  bool operator==(const Program& other) const;

  // After the last instruction of a program that is not empty, data() holds an
  // end marker: an instruction of kind END_MARK, which no program holds.
  static constexpr OpKind END_MARK = static_cast<OpKind>(OP_KIND_COUNT);

 private:
  // Writes the end marker after the last instruction. The array always has
  // room for it: its allocation holds capacity_ + 1 instructions.
  void mark_end() noexcept {
    OpCode* end = new (ops_ + size_) OpCode(OpKind::Add);
    end->kind_ = END_MARK;
  }
  struct Chunk;
  inline void* allocate_block(size_t bytes);
  void* allocate_block_in_new_chunk(size_t bytes);
  void grow();  // more room for instructions
  inline void place_pooled(OpKind kind, uint64_t word, void* block);
  void append_pooled_copy(const OpCode& op);
  void push_back_slow(OpCode&& op);
  void release() noexcept;
  void steal(Program& other) noexcept;

  OpCode* ops_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  // Operand storage: a list of chunks, never moved, the newest first; blocks
  // are carved from [cursor_, chunk_end_). With ops_in_chunk_ the instruction
  // array lies inside the oldest chunk and is freed with it.
  Chunk* chunks_ = nullptr;
  char* cursor_ = nullptr;
  char* chunk_end_ = nullptr;
  bool ops_in_chunk_ = false;
};

// Program equality: same length and equal instructions at every index.
bool programs_equal(const Program& a, const Program& b);

}  // namespace vexlor
