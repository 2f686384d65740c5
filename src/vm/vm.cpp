#include "vm/vm.hpp"

#include "vm/values.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace vexlor {
namespace {

constexpr Decimal ONE = Decimal::one();
constexpr Decimal ZERO = Decimal::zero();
constexpr uint64_t MAX_COST = UINT64_MAX;

// Gas per instruction kind; Pow's cost depends on its exponent.
constexpr uint8_t COST[OP_KIND_COUNT] = {
    1, 1,                    // PushConst, LoadVar
    3, 3, 3, 3, 3, 3,        // Add, Sub, Mul, Div, FloorDiv, Mod
    1,                       // Pow (computed)
    1, 1, 1, 1, 1,           // Neg, Pos, Not, And, Or
    1, 1, 1, 1, 1, 1,        // Eq, Ne, Lt, Le, Gt, Ge
    1, 1,                    // Jump, JumpIfFalse
    3,                       // Call
};

constexpr size_t INLINE_STACK = 32;

// End: finished with exactly one value on the stack; BadEnd: finished with any
// other number of values.
enum class Exit { End, BadEnd, Fail, StartGuard };

// Free: no gas limit. Metered: the caller's limit. Guarded: after a backward jump,
// the caller's limit (if any) and the loop work budget.
enum class Mode { Free, Metered, Guarded };

struct Machine {
  std::span<const OpCode> code;
  const VmContext& ctx;
  Decimal* base;
  Decimal* sp;
  Decimal* end;
  Decimal* heap = nullptr;
  size_t pc = 0;
  uint64_t limit = 0;      // the caller's limit (when has_limit)
  uint64_t remaining = 0;  // the caller's gas still unspent
  uint64_t loop_work = LOOP_WORK_BUDGET;
  bool has_limit = false;
  std::optional<VmError> error;

  Machine(std::span<const OpCode> program, const VmContext& context, Decimal* stack, size_t capacity)
      : code(program), ctx(context), base(stack), sp(stack), end(stack + capacity) {}
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  ~Machine() {
    if (heap != nullptr) std::free(heap);
  }
};

// Doubles the stack; returns the new top, or nullptr (with m.error set) when
// memory runs out. Takes and returns the top by value so that the loop can keep
// it in a register.
[[gnu::cold, gnu::noinline]] Decimal* grow(Machine& m, Decimal* sp) {
  const size_t size = static_cast<size_t>(sp - m.base);
  const size_t capacity = size * 2;
  auto* fresh = static_cast<Decimal*>(std::malloc(capacity * sizeof(Decimal)));
  if (fresh == nullptr) {
    m.error = VmError::runtime_error("Out of memory for the value stack");
    return nullptr;
  }
  std::memcpy(static_cast<void*>(fresh), m.base, size * sizeof(Decimal));
  std::free(m.heap);
  m.heap = fresh;
  m.base = fresh;
  m.end = fresh + capacity;
  return fresh + size;
}

uint64_t pow_cost(const Decimal* base, const Decimal* sp) {
  if (sp == base) return 1;
  const std::optional<uint64_t> n = sp[-1].abs().ceil().to_u64();
  if (!n || *n == MAX_COST) return MAX_COST;
  return *n + 1;
}

inline bool loop_work_exceeded(Machine& m, const OpCode& op, uint64_t cost) {
  uint64_t work = cost;
  if (op.kind() == OpKind::Pow || op.kind() == OpKind::Call) {
    const uint64_t args = op.kind() == OpKind::Call ? op.arg_count() : 0;
    const uint64_t extra = args > MAX_COST - LOOP_HEAVY_WORK ? MAX_COST : LOOP_HEAVY_WORK + args;
    work = work > MAX_COST - extra ? MAX_COST : work + extra;
  }
  if (work > m.loop_work) return true;
  m.loop_work -= work;
  return false;
}

[[gnu::cold, gnu::noinline]] VmError missing_variable(const OpCode& op) {
  return VmError::variable_not_found(op.var().display());
}
[[gnu::cold, gnu::noinline]] VmError missing_function(const OpCode& op) {
  return VmError::function_not_found(op.call_name());
}
[[gnu::cold, gnu::noinline]] VmError overflow(const char* word) {
  return VmError::overflow(std::string(word) + " overflow: result out of Decimal range");
}
[[gnu::cold, gnu::noinline]] VmError pow_failure(const MathResult& r, const Decimal& a, const Decimal& b) {
  if (r.status == MathResult::Status::Fault) return VmError::runtime_error(r.fault);
  return VmError::overflow("Pow overflow: " + a.to_string() + "^" + b.to_string() +
                           " exceeds Decimal range (max ~7.9e28)");
}

[[gnu::cold, gnu::noinline]] VmError gas_exhausted(const Machine& m, uint64_t cost, uint64_t remaining) {
  return VmError::out_of_gas(m.limit, cost, remaining);
}
[[gnu::cold, gnu::noinline]] VmError loop_limit() { return VmError::runtime_error(LOOP_LIMIT_MESSAGE); }

// The instruction loop. Dispatch is threaded: every instruction body ends with its
// own jump to the next one (GCC's labels as values), and sp, ip, the stack bounds
// and the remaining gas stay in locals. Each body charges its gas first, with
// the cost known at compile time except for Pow.
template <Mode mode>
Exit execute(Machine& m) {
  constexpr bool metered = mode != Mode::Free;
  const OpCode* const code = m.code.data();
  const size_t len = m.code.size();
  const OpCode* const stop = code + len;
  const OpCode* ip = code + m.pc;
  Decimal* sp = m.sp;
  Decimal* base = m.base;
  Decimal* end = m.end;
  uint64_t remaining = metered ? m.remaining : 0;
  const VariableMap& variables = m.ctx.variables;

  static constexpr void* LABELS[OP_KIND_COUNT] = {
      &&op_PushConst, &&op_LoadVar, &&op_Add, &&op_Sub, &&op_Mul, &&op_Div,  &&op_FloorDiv, &&op_Mod,
      &&op_Pow,       &&op_Neg,     &&op_Pos, &&op_Not, &&op_And, &&op_Or,   &&op_Eq,       &&op_Ne,
      &&op_Lt,        &&op_Le,      &&op_Gt,  &&op_Ge,  &&op_Jump, &&op_JumpIfFalse, &&op_Call};

#define VM_DISPATCH()                                       \
  do {                                                      \
    if (ip == stop) goto done;                              \
    goto* LABELS[static_cast<size_t>(ip->kind())];          \
  } while (0)
#define VM_NEXT() \
  do {            \
    ++ip;         \
    VM_DISPATCH(); \
  } while (0)
#define VM_FAIL(err)           \
  do {                         \
    m.error = (err);           \
    goto fail;                 \
  } while (0)
#define VM_CHARGE(K)                                                                   \
  do {                                                                                 \
    if constexpr (metered) {                                                           \
      uint64_t cost_ = COST[static_cast<size_t>(K)];                                   \
      if constexpr ((K) == OpKind::Pow) cost_ = pow_cost(base, sp);                    \
      if (mode == Mode::Metered || m.has_limit) {                                      \
        if (cost_ > remaining) [[unlikely]]                                            \
          VM_FAIL(gas_exhausted(m, cost_, remaining));                                 \
        remaining -= cost_;                                                            \
      }                                                                                \
      if constexpr (mode == Mode::Guarded) {                                           \
        if (loop_work_exceeded(m, *ip, cost_)) VM_FAIL(loop_limit());                  \
      }                                                                                \
    }                                                                                  \
  } while (0)
#define VM_NEED(n)                                                           \
  do {                                                                       \
    if (static_cast<size_t>(sp - base) < (n)) [[unlikely]]                   \
      VM_FAIL(VmError::stack_underflow());                                   \
  } while (0)
#define VM_PUSH(value)                              \
  do {                                              \
    if (sp == end) [[unlikely]] {                   \
      Decimal* const grown_ = grow(m, sp);          \
      if (grown_ == nullptr) goto fail;             \
      sp = grown_;                                  \
      base = m.base;                                \
      end = m.end;                                  \
    }                                               \
    *sp++ = (value);                                \
  } while (0)
#define VM_ARITH(fn, word)                          \
  do {                                              \
    VM_NEED(2);                                     \
    const ArithResult r = fn(sp[-2], sp[-1]);       \
    if (!r.is_ok()) [[unlikely]]                    \
      VM_FAIL(overflow(word));                      \
    sp[-2] = fresh_copy(r.value);                   \
    --sp;                                           \
  } while (0)
#define VM_DIVIDE(fn, word)                                        \
  do {                                                             \
    VM_NEED(2);                                                    \
    if (sp[-1].is_zero()) [[unlikely]]                             \
      VM_FAIL(VmError::division_by_zero());                        \
    const ArithResult r = fn(sp[-2], sp[-1]);                      \
    if (!r.is_ok()) [[unlikely]]                                   \
      VM_FAIL(overflow(word));                                     \
    sp[-2] = fresh_copy(r.value);                                  \
    --sp;                                                          \
  } while (0)
#define VM_COMPARE(test)                            \
  do {                                              \
    VM_NEED(2);                                     \
    const auto c = sp[-2].cmp(sp[-1]);              \
    sp[-2] = (test) ? ONE : ZERO;                   \
    --sp;                                           \
  } while (0)
// A backward jump outside the guarded mode hands over to it; a target past the
// end finishes the run.
#define VM_JUMP_TO(t)                                            \
  do {                                                           \
    const size_t target_ = (t);                                  \
    const OpCode* const dest_ = target_ < len ? code + target_ : stop; \
    if constexpr (mode != Mode::Guarded) {                       \
      if (dest_ <= ip) {                                         \
        m.pc = target_;                                          \
        m.sp = sp;                                               \
        if constexpr (metered) m.remaining = remaining;          \
        return Exit::StartGuard;                                 \
      }                                                          \
    }                                                            \
    ip = dest_;                                                  \
    VM_DISPATCH();                                               \
  } while (0)

  VM_DISPATCH();

op_PushConst:
  VM_CHARGE(OpKind::PushConst);
  VM_PUSH(ip->constant());
  VM_NEXT();
op_LoadVar: {
  VM_CHARGE(OpKind::LoadVar);
  const Decimal* v = variables.find(ip->var(), ip->var_hash());
  if (v == nullptr) [[unlikely]]
    VM_FAIL(missing_variable(*ip));
  VM_PUSH(*v);
  VM_NEXT();
}
op_Add:
  VM_CHARGE(OpKind::Add);
  VM_ARITH(add_impl, "Addition");
  VM_NEXT();
op_Sub:
  VM_CHARGE(OpKind::Sub);
  VM_ARITH(sub_impl, "Subtraction");
  VM_NEXT();
op_Mul:
  VM_CHARGE(OpKind::Mul);
  VM_ARITH(mul_impl, "Multiplication");
  VM_NEXT();
op_Div:
  VM_CHARGE(OpKind::Div);
  VM_DIVIDE(div_impl, "Division");
  VM_NEXT();
op_FloorDiv:
  VM_CHARGE(OpKind::FloorDiv);
  VM_DIVIDE(div_impl, "Division");
  sp[-1] = sp[-1].floor();
  VM_NEXT();
op_Mod:
  VM_CHARGE(OpKind::Mod);
  VM_DIVIDE(rem_impl, "Modulo");
  VM_NEXT();
op_Pow: {
  VM_CHARGE(OpKind::Pow);
  VM_NEED(2);
  const MathResult r = checked_powd(sp[-2], sp[-1]);
  if (!r.is_ok()) VM_FAIL(pow_failure(r, sp[-2], sp[-1]));
  sp[-2] = fresh_copy(r.value);
  --sp;
  VM_NEXT();
}
op_Neg:
  VM_CHARGE(OpKind::Neg);
  VM_NEED(1);
  sp[-1] = -sp[-1];
  VM_NEXT();
op_Pos:
  VM_CHARGE(OpKind::Pos);
  VM_NEED(1);
  VM_NEXT();
op_Not:
  VM_CHARGE(OpKind::Not);
  VM_NEED(1);
  sp[-1] = sp[-1].is_zero() ? ONE : ZERO;
  VM_NEXT();
op_And:
  VM_CHARGE(OpKind::And);
  VM_NEED(2);
  sp[-2] = (!sp[-2].is_zero() && !sp[-1].is_zero()) ? ONE : ZERO;
  --sp;
  VM_NEXT();
op_Or:
  VM_CHARGE(OpKind::Or);
  VM_NEED(2);
  sp[-2] = (!sp[-2].is_zero() || !sp[-1].is_zero()) ? ONE : ZERO;
  --sp;
  VM_NEXT();
op_Eq:
  VM_CHARGE(OpKind::Eq);
  VM_COMPARE(c == 0);
  VM_NEXT();
op_Ne:
  VM_CHARGE(OpKind::Ne);
  VM_COMPARE(c != 0);
  VM_NEXT();
op_Lt:
  VM_CHARGE(OpKind::Lt);
  VM_COMPARE(c < 0);
  VM_NEXT();
op_Le:
  VM_CHARGE(OpKind::Le);
  VM_COMPARE(c <= 0);
  VM_NEXT();
op_Gt:
  VM_CHARGE(OpKind::Gt);
  VM_COMPARE(c > 0);
  VM_NEXT();
op_Ge:
  VM_CHARGE(OpKind::Ge);
  VM_COMPARE(c >= 0);
  VM_NEXT();
op_Jump:
  VM_CHARGE(OpKind::Jump);
  VM_JUMP_TO(ip->target());
op_JumpIfFalse:
  VM_CHARGE(OpKind::JumpIfFalse);
  VM_NEED(1);
  --sp;
  if (sp->is_zero()) VM_JUMP_TO(ip->target());
  VM_NEXT();
op_Call: {
  VM_CHARGE(OpKind::Call);
  const OpCode& op = *ip;
  const size_t n = op.arg_count();
  if (static_cast<size_t>(sp - base) < n) VM_FAIL(VmError::stack_underflow());
  const uint8_t slot = op.call_slot();
  const BuiltinFn fn =
      slot != NO_FUNCTION_SLOT ? m.ctx.functions->find_slot(slot) : m.ctx.functions->find(op.call_name());
  if (fn == nullptr) VM_FAIL(missing_function(op));
  Decimal result;
  if (!fn(std::span<const Decimal>(sp - n, n), result, m.error)) goto fail;
  sp -= n;
  VM_PUSH(result);
  VM_NEXT();
}

done:
  m.pc = len;
  m.sp = sp;
  if constexpr (metered) m.remaining = remaining;
  return sp == base + 1 ? Exit::End : Exit::BadEnd;

fail:
  m.pc = static_cast<size_t>(ip - code);
  m.sp = sp;
  if constexpr (metered) m.remaining = remaining;
  return Exit::Fail;

#undef VM_DISPATCH
#undef VM_NEXT
#undef VM_FAIL
#undef VM_CHARGE
#undef VM_NEED
#undef VM_PUSH
#undef VM_ARITH
#undef VM_DIVIDE
#undef VM_COMPARE
#undef VM_JUMP_TO
}

// Everything but a plain finish: the loop guard's continuation, errors, a wrong
// final stack size.
[[gnu::noinline]] Expected<Decimal, VmError> finish(Machine& m, Exit exit, uint64_t* gas_used) {
  if (exit == Exit::StartGuard) exit = execute<Mode::Guarded>(m);
  if (gas_used != nullptr) *gas_used = m.has_limit ? m.limit - m.remaining : 0;
  if (exit == Exit::Fail) return unexpected(std::move(*m.error));
  const size_t size = static_cast<size_t>(m.sp - m.base);
  if (exit == Exit::BadEnd) return unexpected(VmError::runtime_error("Invalid stack size at end: " + std::to_string(size)));
  return m.base[0];
}

}  // namespace

Expected<Decimal, VmError> run(std::span<const OpCode> program, const VmContext& context,
                               std::optional<uint64_t> gas, uint64_t* gas_used) {
  alignas(Decimal) unsigned char inline_stack[INLINE_STACK * sizeof(Decimal)];
  auto* stack = reinterpret_cast<Decimal*>(inline_stack);
  Machine m(program, context, stack, INLINE_STACK);

  Exit exit;
  if (gas) {
    m.has_limit = true;
    m.limit = *gas;
    m.remaining = *gas;
    exit = execute<Mode::Metered>(m);
  } else {
    exit = execute<Mode::Free>(m);
  }
  if (exit == Exit::End) [[likely]] {
    if (gas_used != nullptr) *gas_used = m.has_limit ? m.limit - m.remaining : 0;
    return m.base[0];
  }
  return finish(m, exit, gas_used);
}

}  // namespace vexlor
