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

// Free: no gas limit. Metered: the caller's limit. Guarded: after a backward jump,
// the caller's limit (if any) and the loop work budget.
enum class Mode { Free, Metered, Guarded };

using Result = Expected<Decimal, VmError>;

// What a run hands from the loop to its cold paths (stack growth, errors, the
// switch to the guarded mode). The loop itself keeps these in locals.
struct State {
  const OpCode* code = nullptr;
  size_t len = 0;
  const VmContext* ctx = nullptr;
  Decimal* base = nullptr;
  Decimal* sp = nullptr;
  Decimal* end = nullptr;
  Decimal* heap = nullptr;  // the stack once it outgrew the run's inline buffer
  size_t pc = 0;
  uint64_t limit = 0;      // the caller's limit (when has_limit)
  uint64_t remaining = 0;  // the caller's gas still unspent
  uint64_t loop_work = LOOP_WORK_BUDGET;
  bool has_limit = false;
  uint64_t* gas_used = nullptr;
};

// Doubles the stack; returns the new top, or nullptr when memory runs out. Takes
// and returns the top by value so that the loop can keep it in a register.
[[gnu::cold, gnu::noinline]] Decimal* grow(State& s, Decimal* sp) {
  const size_t size = static_cast<size_t>(sp - s.base);
  const size_t capacity = size * 2;
  auto* fresh = static_cast<Decimal*>(std::malloc(capacity * sizeof(Decimal)));
  if (fresh == nullptr) return nullptr;
  std::memcpy(static_cast<void*>(fresh), s.base, size * sizeof(Decimal));
  std::free(s.heap);
  s.heap = fresh;
  s.base = fresh;
  s.end = fresh + capacity;
  return fresh + size;
}

inline void report_gas(const State& s) {
  if (s.gas_used != nullptr) *s.gas_used = s.has_limit ? s.limit - s.remaining : 0;
}

// Ends a run with an error: reports the gas, releases a grown stack.
[[gnu::cold, gnu::noinline]] Result failed(State& s, VmError error) {
  report_gas(s);
  std::free(s.heap);
  s.heap = nullptr;
  return unexpected(std::move(error));
}

// Ends a run whose stack does not hold exactly one value.
[[gnu::cold, gnu::noinline]] Result bad_end(State& s) {
  const size_t size = static_cast<size_t>(s.sp - s.base);
  return failed(s, VmError::runtime_error("Invalid stack size at end: " + std::to_string(size)));
}

uint64_t pow_cost(const Decimal* base, const Decimal* sp) {
  if (sp == base) return 1;
  const std::optional<uint64_t> n = sp[-1].abs().ceil().to_u64();
  if (!n || *n == MAX_COST) return MAX_COST;
  return *n + 1;
}

inline bool loop_work_exceeded(State& s, const OpCode& op, uint64_t cost) {
  uint64_t work = cost;
  if (op.kind() == OpKind::Pow || op.kind() == OpKind::Call) {
    const uint64_t args = op.kind() == OpKind::Call ? op.arg_count() : 0;
    const uint64_t extra = args > MAX_COST - LOOP_HEAVY_WORK ? MAX_COST : LOOP_HEAVY_WORK + args;
    work = work > MAX_COST - extra ? MAX_COST : work + extra;
  }
  if (work > s.loop_work) return true;
  s.loop_work -= work;
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
[[gnu::cold, gnu::noinline]] VmError out_of_memory() { return VmError::runtime_error("Out of memory for the value stack"); }
[[gnu::cold, gnu::noinline]] VmError gas_exhausted(const State& s, uint64_t cost, uint64_t remaining) {
  return VmError::out_of_gas(s.limit, cost, remaining);
}
[[gnu::cold, gnu::noinline]] VmError loop_limit() { return VmError::runtime_error(LOOP_LIMIT_MESSAGE); }

template <Mode mode>
Result execute(State* resume, const OpCode* program, size_t length, const VmContext* context, uint64_t gas,
               uint64_t* gas_used);

// The guarded loop, resuming a run where the free or metered loop left it.
[[gnu::noinline]] Result execute_guarded(State& s) {
  return execute<Mode::Guarded>(&s, nullptr, 0, nullptr, 0, nullptr);
}

// The instruction loop. Dispatch is threaded: every instruction body ends with its
// own jump to the next one (GCC's labels as values), and ip, sp, the stack bounds
// and the remaining gas stay in locals; `s` is written only on the way out. Each
// body charges its gas first, with the cost known at compile time except for Pow.
// The free and metered loops start a run (stack, state) from the arguments; the
// guarded one, entered at the first backward jump, resumes from `resume`.
template <Mode mode>
[[gnu::noinline]] Result execute(State* resume, const OpCode* program, size_t length, const VmContext* context,
                                 uint64_t gas, uint64_t* gas_used) {
  constexpr bool metered = mode != Mode::Free;
  alignas(Decimal) unsigned char inline_stack[mode == Mode::Guarded ? 1 : INLINE_STACK * sizeof(Decimal)];
  State fresh;
  if constexpr (mode != Mode::Guarded) {
    auto* stack = reinterpret_cast<Decimal*>(inline_stack);
    fresh.code = program;
    fresh.len = length;
    fresh.ctx = context;
    fresh.base = stack;
    fresh.sp = stack;
    fresh.end = stack + INLINE_STACK;
    fresh.gas_used = gas_used;
    if constexpr (metered) {
      fresh.has_limit = true;
      fresh.limit = gas;
      fresh.remaining = gas;
    }
  } else {
    (void)program, (void)length, (void)context, (void)gas, (void)gas_used, (void)inline_stack;
  }
  State& s = mode == Mode::Guarded ? *resume : fresh;
  const OpCode* const code = s.code;
  const size_t len = s.len;
  const OpCode* const stop = code + len;
  const OpCode* ip = code + s.pc;
  Decimal* sp = s.sp;
  Decimal* base = s.base;
  Decimal* end = s.end;
  uint64_t remaining = metered ? s.remaining : 0;
  const VariableMap& variables = s.ctx->variables;
  const FunctionTable& functions = *s.ctx->functions;

  static constexpr void* LABELS[OP_KIND_COUNT] = {
      &&op_PushConst, &&op_LoadVar, &&op_Add, &&op_Sub, &&op_Mul, &&op_Div,  &&op_FloorDiv, &&op_Mod,
      &&op_Pow,       &&op_Neg,     &&op_Pos, &&op_Not, &&op_And, &&op_Or,   &&op_Eq,       &&op_Ne,
      &&op_Lt,        &&op_Le,      &&op_Gt,  &&op_Ge,  &&op_Jump, &&op_JumpIfFalse, &&op_Call};

#define VM_SAVE()                                   \
  do {                                              \
    s.pc = static_cast<size_t>(ip - code);          \
    s.sp = sp;                                      \
    if constexpr (metered) s.remaining = remaining; \
  } while (0)
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
#define VM_FAIL(err)            \
  do {                          \
    VM_SAVE();                  \
    return failed(s, (err));    \
  } while (0)
#define VM_CHARGE(K)                                                                   \
  do {                                                                                 \
    if constexpr (metered) {                                                           \
      uint64_t cost_ = COST[static_cast<size_t>(K)];                                   \
      if constexpr ((K) == OpKind::Pow) cost_ = pow_cost(base, sp);                    \
      if (mode == Mode::Metered || s.has_limit) {                                      \
        if (cost_ > remaining) [[unlikely]]                                            \
          VM_FAIL(gas_exhausted(s, cost_, remaining));                                 \
        remaining -= cost_;                                                            \
      }                                                                                \
      if constexpr (mode == Mode::Guarded) {                                           \
        if (loop_work_exceeded(s, *ip, cost_)) VM_FAIL(loop_limit());                  \
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
      Decimal* const grown_ = grow(s, sp);          \
      if (grown_ == nullptr) VM_FAIL(out_of_memory()); \
      sp = grown_;                                  \
      base = s.base;                                \
      end = s.end;                                  \
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
        ip = dest_;                                              \
        VM_SAVE();                                               \
        return execute_guarded(s);                               \
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
  const Decimal* v = variables.find(ip->var_operand());
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
  const BuiltinFn fn = slot != NO_FUNCTION_SLOT ? functions.find_slot(slot) : functions.find(op.call_name());
  if (fn == nullptr) VM_FAIL(missing_function(op));
  Decimal result;
  std::optional<VmError> error;
  if (!fn(std::span<const Decimal>(sp - n, n), result, error)) [[unlikely]]
    VM_FAIL(std::move(*error));
  sp -= n;
  VM_PUSH(result);
  VM_NEXT();
}

done:
  if (sp != base + 1) [[unlikely]] {
    VM_SAVE();
    return bad_end(s);
  }
  {
    const Decimal value = base[0];
    if constexpr (metered) s.remaining = remaining;
    report_gas(s);
    if (s.heap != nullptr) [[unlikely]]
      std::free(s.heap);
    return value;
  }

#undef VM_SAVE
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

}  // namespace

Expected<Decimal, VmError> run(std::span<const OpCode> program, const VmContext& context,
                               std::optional<uint64_t> gas, uint64_t* gas_used) {
  if (gas) return execute<Mode::Metered>(nullptr, program.data(), program.size(), &context, *gas, gas_used);
  return execute<Mode::Free>(nullptr, program.data(), program.size(), &context, 0, gas_used);
}

}  // namespace vexlor
