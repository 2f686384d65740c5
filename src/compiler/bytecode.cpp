#include "compiler/bytecode.hpp"

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

PackedVarId pack_name(std::string_view name) {
  PackedVarId p;
  unsigned char bytes[16] = {};
  std::memcpy(bytes, name.data(), name.size() < 16 ? name.size() : 16);
  std::memcpy(&p.w0, bytes, 8);
  std::memcpy(&p.w1, bytes + 8, 8);
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

OpCode::OpCode(OpKind kind) : kind_(kind) {
  if (kind == OpKind::PushConst) {
    new (&u_.constant) Decimal();
  } else if (kind == OpKind::LoadVar) {
    VarId empty = VarId::name(std::string());
    const uint64_t hash = empty.hash();
    const PackedVarId packed = pack_var_id(empty);
    u_.s.ptr = new LoadVarOperand{std::move(empty), hash, packed};
  } else if (kind == OpKind::Call) {
    u_.s.ptr = new CallOperand{std::string(), NO_FUNCTION_SLOT};
  }
}

OpCode OpCode::push_const(const Decimal& value) {
  OpCode op(OpKind::PushConst);
  op.u_.constant = value;
  return op;
}

OpCode OpCode::load_var(VarId var) {
  OpCode op(OpKind::Jump);  // no operand block yet
  op.kind_ = OpKind::LoadVar;
  const uint64_t hash = var.hash();
  const PackedVarId packed = pack_var_id(var);
  op.u_.s.ptr = new LoadVarOperand{std::move(var), hash, packed};
  return op;
}

OpCode OpCode::jump(size_t target) {
  OpCode op(OpKind::Jump);
  op.u_.s.size = target;
  return op;
}

OpCode OpCode::jump_if_false(size_t target) {
  OpCode op(OpKind::JumpIfFalse);
  op.u_.s.size = target;
  return op;
}

OpCode OpCode::call(std::string name, size_t arg_count) {
  OpCode op(OpKind::Jump);
  op.kind_ = OpKind::Call;
  const uint8_t slot = function_slot(name);
  op.u_.s.ptr = new CallOperand{std::move(name), slot};
  op.u_.s.size = arg_count;
  return op;
}

void OpCode::copy_from(const OpCode& other) {
  kind_ = other.kind_;
  u_ = other.u_;
  if (kind_ == OpKind::LoadVar) {
    u_.s.ptr = new LoadVarOperand(*other.as_load());
  } else if (kind_ == OpKind::Call) {
    u_.s.ptr = new CallOperand(*other.as_call());
  }
}

void OpCode::destroy() {
  if (kind_ == OpKind::LoadVar) {
    delete static_cast<LoadVarOperand*>(u_.s.ptr);
  } else if (kind_ == OpKind::Call) {
    delete static_cast<CallOperand*>(u_.s.ptr);
  }
}

OpCode::OpCode(const OpCode& other) { copy_from(other); }

OpCode::OpCode(OpCode&& other) noexcept : kind_(other.kind_), u_(other.u_) {
  other.kind_ = OpKind::Add;  // the operand block now belongs to this instruction
}

OpCode& OpCode::operator=(const OpCode& other) {
  if (this != &other) {
    OpCode copy(other);
    *this = std::move(copy);
  }
  return *this;
}

OpCode& OpCode::operator=(OpCode&& other) noexcept {
  if (this != &other) {
    destroy();
    kind_ = other.kind_;
    u_ = other.u_;
    other.kind_ = OpKind::Add;
  }
  return *this;
}

OpCode::~OpCode() { destroy(); }

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

bool programs_equal(const Program& a, const Program& b) { return a == b; }

}  // namespace vexlor
