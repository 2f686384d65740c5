#include "compiler/bytecode.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace vexlor {

uint8_t function_slot(std::string_view name) {
  for (size_t i = 0; i < FUNCTION_SLOT_COUNT; ++i) {
    if (FUNCTION_SLOT_NAMES[i] == name) return static_cast<uint8_t>(i);
  }
  return NO_FUNCTION_SLOT;
}

namespace {

// The first n <= 8 bytes at p as a little-endian word, zero-padded, without a
// call to memcpy of a variable length.
inline uint64_t load_padded(const char* p, size_t n) {
  unsigned char bytes[8] = {};
  if (n == 8) {
    std::memcpy(bytes, p, 8);
  } else if (n >= 4) {
    std::memcpy(bytes, p, 4);
    std::memcpy(bytes + n - 4, p + n - 4, 4);
  } else {
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(p[i]);
  }
  uint64_t w;
  std::memcpy(&w, bytes, 8);
  return w;
}

}  // namespace

PackedVarId pack_name(std::string_view name) {
  PackedVarId p;
  const size_t n = name.size() < 16 ? name.size() : 16;
  p.w0 = load_padded(name.data(), n < 8 ? n : 8);
  p.w1 = n > 8 ? load_padded(name.data() + 8, n - 8) : 0;
  p.tag = static_cast<uint64_t>(name.size()) << 8 | (name.size() > 16 ? PackedVarId::LONG_NAME : 0) |
          static_cast<uint64_t>(VarId::Kind::Name);
  return p;
}

PackedVarId pack_var_id(const VarId& id) {
  if (id.is_name()) return pack_name(id.name_text());
  PackedVarId p;
  std::memcpy(&p.w0, id.uuid_bytes().data(), 8);
  std::memcpy(&p.w1, id.uuid_bytes().data() + 8, 8);
  p.tag = static_cast<uint64_t>(VarId::Kind::Uuid);
  return p;
}

void OpCode::make_empty_block() {
  if (kind_ == OpKind::LoadVar) {
    VarId empty = VarId::name(std::string());
    const uint64_t hash = empty.hash();
    const PackedVarId packed = pack_var_id(empty);
    u_.s.ptr = new LoadVarOperand{std::move(empty), hash, packed};
    u_.s.word = hash;
  } else {
    u_.s.ptr = new CallOperand{std::string(), NO_FUNCTION_SLOT};
  }
}

OpCode OpCode::load_var(VarId var) {
  OpCode op(OpKind::Jump);  // no operand block yet
  op.kind_ = OpKind::LoadVar;
  const uint64_t hash = var.hash();
  const PackedVarId packed = pack_var_id(var);
  op.u_.s.ptr = new LoadVarOperand{std::move(var), hash, packed};
  op.u_.s.word = hash;
  return op;
}

OpCode OpCode::call(std::string name, size_t arg_count) {
  OpCode op(OpKind::Jump);
  op.kind_ = OpKind::Call;
  const uint8_t slot = function_slot(name);
  op.u_.s.ptr = new CallOperand{std::move(name), slot};
  op.u_.s.word = arg_count;
  return op;
}

void OpCode::copy_block(const OpCode& other) {
  pooled_ = false;
  if (kind_ == OpKind::LoadVar) {
    u_.s.ptr = new LoadVarOperand(*other.as_load());
  } else {
    u_.s.ptr = new CallOperand(*other.as_call());
  }
}

void OpCode::take_from(OpCode& other) {
  kind_ = other.kind_;
  pooled_ = false;
  u_ = other.u_;
  other.kind_ = OpKind::Add;  // the operand block now belongs to this instruction
}

void OpCode::destroy_block() {
  if (kind_ == OpKind::LoadVar) {
    auto* block = static_cast<LoadVarOperand*>(u_.s.ptr);
    if (pooled_) {
      block->~LoadVarOperand();
    } else {
      delete block;
    }
  } else {
    auto* block = static_cast<CallOperand*>(u_.s.ptr);
    if (pooled_) {
      block->~CallOperand();
    } else {
      delete block;
    }
  }
}

OpCode& OpCode::operator=(const OpCode& other) {
  if (this != &other) {
    OpCode copy(other);
    this->~OpCode();
    take_from(copy);
  }
  return *this;
}

OpCode& OpCode::operator=(OpCode&& other) noexcept {
  if (this != &other) {
    OpCode taken(std::move(other));  // copies a block kept in a program's storage
    this->~OpCode();
    take_from(taken);
  }
  return *this;
}

bool OpCode::operator==(const OpCode& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case OpKind::PushConst:
      return u_.constant == other.u_.constant;
    case OpKind::LoadVar:
      return var() == other.var();
    case OpKind::Jump:
    case OpKind::JumpIfFalse:
      return target() == other.target();
    case OpKind::Call:
      return arg_count() == other.arg_count() && call_name() == other.call_name();
    default:
      return true;
  }
}

// ---------------------------------------------------------------- Program

struct Program::Chunk {
  Chunk* next;
  size_t bytes;  // usable bytes after the header
};

namespace {

constexpr size_t BLOCK_ALIGN = std::max({alignof(LoadVarOperand), alignof(CallOperand), alignof(OpCode), alignof(size_t)});
constexpr size_t round_up(size_t n) { return (n + BLOCK_ALIGN - 1) & ~(BLOCK_ALIGN - 1); }
constexpr size_t CHUNK_HEADER = round_up(sizeof(void*) + sizeof(size_t));  // Program::Chunk
constexpr size_t LOAD_BLOCK = round_up(sizeof(LoadVarOperand));
constexpr size_t CALL_BLOCK = round_up(sizeof(CallOperand));
constexpr size_t MIN_CHUNK = 256;

static_assert(BLOCK_ALIGN <= alignof(std::max_align_t), "chunks come from operator new");

}  // namespace

Program::Program(std::initializer_list<OpCode> ops) {
  size_t load_vars = 0, calls = 0;
  for (const OpCode& op : ops) {
    load_vars += op.kind() == OpKind::LoadVar;
    calls += op.kind() == OpKind::Call;
  }
  reserve(ops.size(), load_vars, calls);
  for (const OpCode& op : ops) push_back(op);
}

Program::Program(const Program& other) {
  size_t load_vars = 0, calls = 0;
  for (const OpCode& op : other) {
    load_vars += op.kind() == OpKind::LoadVar;
    calls += op.kind() == OpKind::Call;
  }
  reserve(other.size_, load_vars, calls);
  for (const OpCode& op : other) push_back(op);
}

Program::Program(Program&& other) noexcept { steal(other); }

Program& Program::operator=(const Program& other) {
  if (this != &other) {
    Program copy(other);
    release();
    steal(copy);
  }
  return *this;
}

Program& Program::operator=(Program&& other) noexcept {
  if (this != &other) {
    release();
    steal(other);
  }
  return *this;
}

Program::~Program() { release(); }

void Program::release() noexcept {
  for (size_t i = 0; i < size_; ++i) ops_[i].~OpCode();
  if (!ops_in_chunk_) ::operator delete(ops_);
  while (chunks_ != nullptr) {
    Chunk* next = chunks_->next;
    ::operator delete(chunks_);
    chunks_ = next;
  }
  ops_ = nullptr;
  size_ = capacity_ = 0;
  cursor_ = chunk_end_ = nullptr;
  ops_in_chunk_ = false;
}

void Program::clear() noexcept { release(); }

void Program::steal(Program& other) noexcept {
  ops_ = other.ops_;
  size_ = other.size_;
  capacity_ = other.capacity_;
  chunks_ = other.chunks_;
  cursor_ = other.cursor_;
  chunk_end_ = other.chunk_end_;
  ops_in_chunk_ = other.ops_in_chunk_;
  other.ops_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.chunks_ = nullptr;
  other.cursor_ = other.chunk_end_ = nullptr;
  other.ops_in_chunk_ = false;
}

void Program::reserve(size_t count) {
  if (count <= capacity_) return;
  auto* bigger = static_cast<OpCode*>(::operator new((count + 1) * sizeof(OpCode)));
  // Instructions move bit for bit: no instruction points into the array itself.
  for (size_t i = 0; i < size_; ++i) {
    OpCode* to = bigger + i;
    new (to) OpCode(OpKind::Add);
    to->kind_ = ops_[i].kind_;
    to->pooled_ = ops_[i].pooled_;
    to->u_ = ops_[i].u_;
    ops_[i].kind_ = OpKind::Add;
    ops_[i].~OpCode();
  }
  if (!ops_in_chunk_) ::operator delete(ops_);
  ops_ = bigger;
  capacity_ = count;
  ops_in_chunk_ = false;
  mark_end();
}

void Program::reserve(size_t count, size_t load_vars, size_t calls) {
  static_assert(sizeof(Chunk) <= CHUNK_HEADER);
  if (ops_ != nullptr || chunks_ != nullptr || count == 0) {
    reserve(count);
    return;
  }
  const size_t ops_bytes = round_up((count + 1) * sizeof(OpCode));
  const size_t bytes = ops_bytes + load_vars * LOAD_BLOCK + calls * CALL_BLOCK;
  auto* chunk = static_cast<Chunk*>(::operator new(CHUNK_HEADER + bytes));
  chunk->next = nullptr;
  chunk->bytes = bytes;
  chunks_ = chunk;
  char* base = reinterpret_cast<char*>(chunk) + CHUNK_HEADER;
  ops_ = reinterpret_cast<OpCode*>(base);
  capacity_ = count;
  ops_in_chunk_ = true;
  cursor_ = base + ops_bytes;
  chunk_end_ = base + bytes;
  mark_end();
}

void* Program::allocate_block(size_t bytes) {
  if (static_cast<size_t>(chunk_end_ - cursor_) >= bytes) [[likely]] {
    void* block = cursor_;
    cursor_ += bytes;
    return block;
  }
  return allocate_block_in_new_chunk(bytes);
}

void* Program::allocate_block_in_new_chunk(size_t bytes) {
  const size_t last = chunks_ != nullptr ? chunks_->bytes : 0;
  const size_t size = std::max({bytes, MIN_CHUNK, 2 * last});
  auto* chunk = static_cast<Chunk*>(::operator new(CHUNK_HEADER + size));
  chunk->next = chunks_;
  chunk->bytes = size;
  chunks_ = chunk;
  cursor_ = reinterpret_cast<char*>(chunk) + CHUNK_HEADER;
  chunk_end_ = cursor_ + size;
  void* block = cursor_;
  cursor_ += bytes;
  return block;
}

void Program::grow() { reserve(capacity_ < 8 ? 8 : 2 * capacity_); }

void Program::append_pooled_copy(const OpCode& op) {
  // The block first: `op` may be an instruction of this program, which
  // growing the instruction array would move.
  void* block;
  if (op.kind_ == OpKind::LoadVar) {
    block = new (allocate_block(LOAD_BLOCK)) LoadVarOperand(*op.as_load());
  } else {
    block = new (allocate_block(CALL_BLOCK)) CallOperand(*op.as_call());
  }
  place_pooled(op.kind_, op.u_.s.word, block);
}

void Program::push_back(const OpCode& op) {
  if (OpCode::has_block(op.kind_)) {
    append_pooled_copy(op);
    return;
  }
  OpCode copy(op);
  if (size_ == capacity_) grow();
  new (ops_ + size_) OpCode(std::move(copy));
  ++size_;
  mark_end();
}

void Program::push_back_slow(OpCode&& op) {
  if (op.pooled_ && OpCode::has_block(op.kind_)) {
    append_pooled_copy(op);
    return;
  }
  OpCode taken(std::move(op));
  if (size_ == capacity_) grow();
  new (ops_ + size_) OpCode(std::move(taken));
  ++size_;
  mark_end();
}

void Program::place_pooled(OpKind kind, uint64_t word, void* block) {
  if (size_ == capacity_) [[unlikely]] grow();
  OpCode* slot = new (ops_ + size_) OpCode(OpKind::Add);
  slot->kind_ = kind;
  slot->pooled_ = true;
  slot->u_.s.word = word;
  slot->u_.s.ptr = block;
  ++size_;
  mark_end();
}

void Program::push_load_var(const VarId& var) {
  const uint64_t hash = var.hash();
  place_pooled(OpKind::LoadVar, hash, new (allocate_block(LOAD_BLOCK)) LoadVarOperand{var, hash, pack_var_id(var)});
}

void Program::push_load_var_name(std::string_view name) {
  const uint64_t hash = VarId::name_hash(name);
  place_pooled(OpKind::LoadVar, hash, new (allocate_block(LOAD_BLOCK)) LoadVarOperand{VarId::name(name), hash, pack_name(name)});
}

void Program::push_call(std::string_view name, size_t arg_count) {
  place_pooled(OpKind::Call, arg_count,
               new (allocate_block(CALL_BLOCK)) CallOperand{std::string(name), function_slot(name)});
}

bool Program::operator==(const Program& other) const {
  if (size_ != other.size_) return false;
  for (size_t i = 0; i < size_; ++i) {
    if (!(ops_[i] == other.ops_[i])) return false;
  }
  return true;
}

bool programs_equal(const Program& a, const Program& b) { return a == b; }

}  // namespace vexlor
