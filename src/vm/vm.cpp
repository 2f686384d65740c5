#include "vm/vm.hpp"

#include "vm/builtins.hpp"
#include "vm/functions.hpp"
#include "vm/small_arith.hpp"
#include "vm/values.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

// Each instruction body keeps its own jump to the next (GCC would otherwise merge
// their identical ends into one shared block, one more jump per instruction).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-crossjumping")
#endif
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
static_assert([] {
  for (size_t k = 0; k < OP_KIND_COUNT; ++k) {
    if (COST[k] > vm_loop::MAX_FIXED_COST) return false;
  }
  return true;
}());

constexpr size_t INLINE_STACK = vm_loop::SHORT_PROGRAM;

using vm_loop::Mode;

using Result = Expected<Decimal, VmError>;

// Where the resumed or guarded loop takes over a run from another loop.
struct Resume {
  const OpCode* code;
  size_t len;
  const VmContext* ctx;
  size_t pc;
  Decimal* base;
  Decimal* sp;
  Decimal* end;
  Decimal* inline_base;  // the first loop's own buffer; any other base was allocated
  bool has_limit;
  uint64_t limit;
  uint64_t remaining;
  uint64_t* gas_used;
};

// Doubles the stack; returns its new base, or nullptr when memory runs out.
[[gnu::cold, gnu::noinline]] Decimal* grow(Decimal* base, size_t size, Decimal* inline_base) {
  auto* fresh = static_cast<Decimal*>(std::malloc(size * 2 * sizeof(Decimal)));
  if (fresh == nullptr) return nullptr;
  std::memcpy(static_cast<void*>(fresh), base, size * sizeof(Decimal));
  if (base != inline_base) std::free(base);
  return fresh;
}

// Ends a run with an error: reports the gas, releases a grown stack.
[[gnu::cold, gnu::noinline]] Result failed(VmError error, Decimal* base, const Decimal* inline_base, bool has_limit,
                                           uint64_t limit, uint64_t remaining, uint64_t* gas_used) {
  if (gas_used != nullptr) *gas_used = has_limit ? limit - remaining : 0;
  if (base != inline_base) std::free(base);
  return unexpected(std::move(error));
}

[[gnu::cold, gnu::noinline]] VmError bad_end(size_t size) {
  return VmError::runtime_error("Invalid stack size at end: " + std::to_string(size));
}

uint64_t pow_cost(const Decimal* base, const Decimal* sp) {
  if (sp == base) return 1;
  const std::optional<uint64_t> n = sp[-1].abs().ceil().to_u64();
  if (!n || *n == MAX_COST) return MAX_COST;
  return *n + 1;
}

inline bool loop_work_exceeded(uint64_t& loop_work, const OpCode& op, uint64_t cost) {
  uint64_t work = cost;
  if (op.kind() == OpKind::Pow || op.kind() == OpKind::Call) {
    const uint64_t args = op.kind() == OpKind::Call ? op.arg_count() : 0;
    const uint64_t extra = args > MAX_COST - LOOP_HEAVY_WORK ? MAX_COST : LOOP_HEAVY_WORK + args;
    work = work > MAX_COST - extra ? MAX_COST : work + extra;
  }
  if (work > loop_work) return true;
  loop_work -= work;
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
[[gnu::cold, gnu::noinline]] VmError gas_exhausted(uint64_t limit, uint64_t cost, uint64_t remaining) {
  return VmError::out_of_gas(limit, cost, remaining);
}
[[gnu::cold, gnu::noinline]] VmError loop_limit() { return VmError::runtime_error(LOOP_LIMIT_MESSAGE); }
[[gnu::cold, gnu::noinline]] VmError cancelled() { return VmError::cancelled(); }

using vm_loop::execute;

// A built-in body called from the loop: out of line, which leaves the loop's
// registers to the loop.
template <builtin::Fault (*body)(const Decimal*, size_t, Decimal&)>
[[gnu::noinline]] builtin::Fault out_of_line(const Decimal* args, size_t n, Decimal& out) {
  return body(args, n, out);
}

// The built-in table's function of each slot and its body, called in its place
// (no body: sqrt).
struct Builtin {
  BuiltinFn table_fn;
  builtin::Fault (*body)(const Decimal*, size_t, Decimal&);
};
constexpr Builtin BUILTINS[FUNCTION_SLOT_COUNT] = {
    {builtin::checked_fold, out_of_line<builtin::sum_of>},   // add
    {builtin::multiply, out_of_line<builtin::product_of>},   // mul
    {builtin::max, out_of_line<builtin::max_of>},            // max
    {builtin::round, out_of_line<builtin::round_of>},        // round
    {builtin::sqrt, nullptr},                                // sqrt
    {builtin::min, out_of_line<builtin::min_of>},            // min
    {builtin::abs, out_of_line<builtin::abs_of>},            // abs
    {builtin::floor, out_of_line<builtin::floor_of>},        // floor
    {builtin::ceil, out_of_line<builtin::ceil_of>},          // ceil
    {builtin::sum, out_of_line<builtin::sum_of>},            // sum
    {builtin::average, out_of_line<builtin::average_of>},    // average
};

// Where a traced run starts.
struct TraceStart {
  const VmContext* ctx;
  StepHook hook;
  void* arg;
  bool limited;
  uint64_t limit;
};

[[gnu::noinline]] Result execute_guarded(const Resume* resume) {
  return execute<Mode::Guarded, false>(resume, nullptr, 0, 0, nullptr);
}
[[gnu::noinline]] Result execute_resumed(const Resume* resume) {
  return execute<Mode::Resumed, false>(resume, nullptr, 0, 0, nullptr);
}

}  // namespace

// The instruction loop. Dispatch is threaded: every instruction body ends with its
// own jump to the next one (GCC's labels as values), and ip, sp, the stack bounds
// and the remaining gas stay in locals. Each body charges its gas first, with the
// cost known at compile time except for Pow. The free, metered and charged loops
// start a run (stack, state) from the arguments; the resumed and guarded ones
// continue one from a Resume.
// `bounded`: the program has at most INLINE_STACK instructions. Before any
// backward jump every instruction runs at most once and adds at most one value,
// so the stack stays within the inline buffer and pushes need no bounds test.
// `from`: the VmContext of a fresh run, or the Resume of a resumed or guarded one.
template <Mode mode, bool bounded>
[[gnu::noinline]] Result vm_loop::execute(const void* from, const OpCode* code, size_t len, uint64_t gas,
                                          uint64_t* gas_used) {
  constexpr bool resumed = mode == Mode::Resumed || mode == Mode::Guarded;
  static_assert(!resumed || !bounded);
  constexpr bool metered = mode != Mode::Free;
  constexpr bool checked = mode == Mode::Metered || mode == Mode::Resumed;  // always tests the limit
  // Traced: the hook sees every instruction; gas is counted also without a limit
  // (from UINT64_MAX down), and the loop guard is kept here instead of by Guarded.
  constexpr bool traced = mode == Mode::Traced;
  alignas(16) unsigned char buffer[resumed ? 1 : INLINE_STACK * sizeof(Decimal)];  // no value split across cache lines
  const OpCode* ip;
  Decimal* sp;
  Decimal* base;
  Decimal* end;
  Decimal* inline_base;
  bool has_limit = metered;
  uint64_t limit = gas;
  uint64_t remaining = gas;
  [[maybe_unused]] uint64_t loop_work = LOOP_WORK_BUDGET;
  // Under a gas limit within the budget, gas alone bounds the run.
  [[maybe_unused]] bool guard_on = true;
  [[maybe_unused]] bool limited = true;    // Traced: the limit is tested
  [[maybe_unused]] bool guarding = false;  // Traced: after a backward jump
  [[maybe_unused]] StepHook hook = nullptr;
  [[maybe_unused]] void* hook_arg = nullptr;
  const VmContext* ctx;
  if constexpr (resumed) {
    (void)buffer;
    const Resume* resume = static_cast<const Resume*>(from);
    code = resume->code;
    len = resume->len;
    ctx = resume->ctx;
    ip = code + resume->pc;
    sp = resume->sp;
    base = resume->base;
    end = resume->end;
    inline_base = resume->inline_base;
    has_limit = resume->has_limit;
    limit = resume->limit;
    remaining = resume->remaining;
    gas_used = resume->gas_used;
    guard_on = !has_limit || limit > LOOP_WORK_BUDGET;
  } else {
    if constexpr (!metered) gas_used = nullptr;  // run reports the 0 itself
    if constexpr (traced) {
      const TraceStart* start = static_cast<const TraceStart*>(from);
      ctx = start->ctx;
      hook = start->hook;
      hook_arg = start->arg;
      limited = start->limited;
      limit = remaining = limited ? start->limit : UINT64_MAX;
      guard_on = !limited || limit > LOOP_WORK_BUDGET;
    } else {
      ctx = static_cast<const VmContext*>(from);
    }
    inline_base = reinterpret_cast<Decimal*>(buffer);
    ip = code;
    sp = inline_base;
    base = inline_base;
    end = inline_base + INLINE_STACK;
  }
  const VariableMap& variables = ctx->variables;
  [[maybe_unused]] const std::atomic<bool>* const cancel = ctx->cancel;  // checked at backward jumps

  // By kind, and the end marker after the last instruction.
  static constexpr void* LABELS[OP_KIND_COUNT + 1] = {
      &&op_PushConst, &&op_LoadVar, &&op_Add, &&op_Sub, &&op_Mul, &&op_Div,  &&op_FloorDiv, &&op_Mod,
      &&op_Pow,       &&op_Neg,     &&op_Pos, &&op_Not, &&op_And, &&op_Or,   &&op_Eq,       &&op_Ne,
      &&op_Lt,        &&op_Le,      &&op_Gt,  &&op_Ge,  &&op_Jump, &&op_JumpIfFalse, &&op_Call, &&done};
  static_assert(static_cast<size_t>(Program::END_MARK) == OP_KIND_COUNT);

#define VM_STEP(pc)                                                                              \
  do {                                                                                           \
    if (!hook(hook_arg, StepView{static_cast<size_t>(pc), base, sp, limit - remaining})) [[unlikely]] \
      VM_FAIL(out_of_memory());                                                                  \
  } while (0)
#define VM_DISPATCH()                          \
  do {                                         \
    if constexpr (traced) VM_STEP(ip - code);  \
    goto* LABELS[static_cast<size_t>(ip->kind())]; \
  } while (0)
#define VM_NEXT() \
  do {            \
    ++ip;         \
    VM_DISPATCH(); \
  } while (0)
#define VM_FAIL(err)                                                                     \
  return failed((err), base, inline_base, metered && has_limit, metered ? limit : 0, metered ? remaining : 0, \
                gas_used)
#define VM_CHARGE(K)                                                                   \
  do {                                                                                 \
    if constexpr (metered) {                                                           \
      uint64_t cost_ = COST[static_cast<size_t>(K)];                                   \
      if constexpr ((K) == OpKind::Pow) {                                              \
        if constexpr (mode == Mode::Charged) VM_HAND_OVER(execute_resumed, ip - code);  \
        cost_ = pow_cost(base, sp);                                                    \
      }                                                                                \
      if constexpr (mode == Mode::Charged) {                                           \
        remaining -= cost_;                                                            \
      } else if constexpr (traced) {                                                   \
        if (!limited) {                                                                \
          remaining = cost_ > remaining ? 0 : remaining - cost_;                       \
        } else {                                                                       \
          if (cost_ > remaining) VM_FAIL(gas_exhausted(limit, cost_, remaining));      \
          remaining -= cost_;                                                          \
        }                                                                              \
        if (guarding && guard_on && loop_work_exceeded(loop_work, *ip, cost_)) VM_FAIL(loop_limit()); \
      } else if (checked || has_limit) {                                               \
        if (cost_ > remaining) [[unlikely]]                                            \
          VM_FAIL(gas_exhausted(limit, cost_, remaining));                             \
        remaining -= cost_;                                                            \
      }                                                                                \
      if constexpr (mode == Mode::Guarded) {                                           \
        if (guard_on && loop_work_exceeded(loop_work, *ip, cost_)) VM_FAIL(loop_limit()); \
      }                                                                                \
    }                                                                                  \
  } while (0)
#define VM_NEED(n)                                                           \
  do {                                                                       \
    if (sp < base + (n)) [[unlikely]]                                        \
      VM_FAIL(VmError::stack_underflow());                                   \
  } while (0)
#define VM_PUSH(value)                              \
  do {                                              \
    if (!bounded && sp == end) [[unlikely]] {       \
      const size_t size_ = static_cast<size_t>(sp - base); \
      Decimal* const grown_ = grow(base, size_, inline_base); \
      if (grown_ == nullptr) VM_FAIL(out_of_memory()); \
      base = grown_;                                \
      sp = grown_ + size_;                          \
      end = grown_ + 2 * size_;                     \
    }                                               \
    *sp++ = (value);                                \
  } while (0)
// An operation with an inline path for small operands (see small_arith.hpp).
#define VM_ARITH_SMALL(small_op, fn, word)          \
  do {                                              \
    VM_NEED(2);                                     \
    Decimal out_;                                   \
    if (small_op) [[likely]] {                      \
      sp[-2] = out_;                                \
    } else {                                        \
      const ArithResult r = fn(sp[-2], sp[-1]);     \
      if (!r.is_ok()) [[unlikely]]                  \
        VM_FAIL(overflow(word));                    \
      sp[-2] = fresh_copy(r.value);                 \
    }                                               \
    --sp;                                           \
  } while (0)
// The operation K with the constant k as its right operand and the top of the
// stack as its left: a PushConst and the instruction after it, in one step.
// Each keeps its gas charge, in their order.
#define VM_CONST_ARITH(K, small_op, fn, word)       \
  do {                                              \
    const Decimal& k = ip->constant();              \
    ++ip;                                           \
    VM_CHARGE(K);                                   \
    Decimal out_;                                   \
    if (small_op) [[likely]] {                      \
      sp[-1] = out_;                                \
    } else {                                        \
      const ArithResult r = fn(sp[-1], k);          \
      if (!r.is_ok()) [[unlikely]]                  \
        VM_FAIL(overflow(word));                    \
      sp[-1] = fresh_copy(r.value);                 \
    }                                               \
    VM_NEXT();                                      \
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
// A comparison followed by JumpIfFalse (every conditional the compiler makes)
// runs both at once: the jump's gas is charged as its own body would, and its
// operand is the comparison's result, never pushed.
#define VM_COMPARE(test)                                             \
  do {                                                               \
    VM_NEED(2);                                                      \
    const bool truth_ = small::compare(                              \
        sp[-2], sp[-1], [](std::strong_ordering c) __attribute__((always_inline)) { return (test); }); \
    if (!traced && ip[1].kind() == OpKind::JumpIfFalse) [[likely]] { \
      ++ip;                                                          \
      VM_CHARGE(OpKind::JumpIfFalse);                                \
      sp -= 2;                                                       \
      if (!truth_) VM_JUMP_TO(ip->target());                         \
      VM_NEXT();                                                     \
    }                                                                \
    sp[-2] = truth_ ? ONE : ZERO;                                    \
    --sp;                                                            \
  } while (0)
// Continues the run in another loop, from instruction `pc`.
#define VM_HAND_OVER(loop, pc)                                                       \
  do {                                                                               \
    const Resume resume_{code, len, ctx, static_cast<size_t>(pc), base, sp, end,     \
                         inline_base, metered, metered ? limit : 0, metered ? remaining : 0, gas_used}; \
    return loop(&resume_);                                                           \
  } while (0)
// A backward jump outside the guarded mode hands over to it, and in it checks
// the context's cancel flag; a target past the end finishes the run (always a
// forward jump).
#define VM_JUMP_TO(t)                                              \
  do {                                                             \
    const size_t target_ = (t);                                    \
    if (target_ >= len) goto done;                                 \
    const OpCode* const dest_ = code + target_;                    \
    if constexpr (traced) {                                        \
      if (dest_ <= ip) guarding = true;                            \
    } else if constexpr (mode != Mode::Guarded) {                  \
      if (dest_ <= ip) [[unlikely]] VM_HAND_OVER(execute_guarded, target_); \
    } else {                                                       \
      if (cancel != nullptr && dest_ <= ip) [[unlikely]] {         \
        if (cancel->load(std::memory_order_relaxed)) VM_FAIL(cancelled()); \
      }                                                            \
    }                                                              \
    ip = dest_;                                                    \
    VM_DISPATCH();                                                 \
  } while (0)

  VM_DISPATCH();

op_PushConst:
  VM_CHARGE(OpKind::PushConst);
  // A constant that an addition, subtraction or multiplication takes at once
  // (with a left operand below it) is used in place, never pushed.
  if (!traced && sp > base) [[likely]] {
    const OpKind next = ip[1].kind();
    if (next == OpKind::Add) VM_CONST_ARITH(OpKind::Add, small::add(sp[-1], k, false, out_), add_impl, "Addition");
    if (next == OpKind::Sub) VM_CONST_ARITH(OpKind::Sub, small::add(sp[-1], k, true, out_), sub_impl, "Subtraction");
    if (next == OpKind::Mul) VM_CONST_ARITH(OpKind::Mul, small::mul(sp[-1], k, out_), mul_impl, "Multiplication");
  }
  VM_PUSH(ip->constant());
  VM_NEXT();
op_LoadVar: {
  VM_CHARGE(OpKind::LoadVar);
  // The inline look-up has its own push: the value is read straight from the entry.
  if (const Decimal* v = variables.find_at_home(ip->var_operand(), ip->var_hash())) [[likely]] {
    VM_PUSH(*v);
    VM_NEXT();
  }
  const Decimal* v = variables.find_elsewhere(ip->var_operand(), ip->var_hash());
  if (v == nullptr) [[unlikely]]
    VM_FAIL(missing_variable(*ip));
  VM_PUSH(*v);
  VM_NEXT();
}
op_Add:
  VM_CHARGE(OpKind::Add);
  VM_ARITH_SMALL(small::add(sp[-2], sp[-1], false, out_), add_impl, "Addition");
  VM_NEXT();
op_Sub:
  VM_CHARGE(OpKind::Sub);
  VM_ARITH_SMALL(small::add(sp[-2], sp[-1], true, out_), sub_impl, "Subtraction");
  VM_NEXT();
op_Mul:
  VM_CHARGE(OpKind::Mul);
  VM_ARITH_SMALL(small::mul(sp[-2], sp[-1], out_), mul_impl, "Multiplication");
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
  sp[-1] = negated_words(sp[-1]);
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
  const FunctionTable& functions = *ctx->functions;
  const BuiltinFn fn = slot != NO_FUNCTION_SLOT ? functions.in_slot(slot) : functions.find(op.call_name());
  if (fn == nullptr) VM_FAIL(missing_function(op));
  Decimal* const args = sp - n;
  // Written by the built-in body before it is read (storage for a trivially copyable value).
  alignas(Decimal) unsigned char result_storage[sizeof(Decimal)];
  Decimal& result = *reinterpret_cast<Decimal*>(result_storage);
  builtin::Fault fault;
  // The built-in table's cheap functions run directly.
  if (slot < FUNCTION_SLOT_COUNT && fn == BUILTINS[slot].table_fn && BUILTINS[slot].body != nullptr) [[likely]] {
    fault = BUILTINS[slot].body(args, n, result);
    goto call_done;
  }
  {
    Decimal value;
    {
      // Ends before the dispatch below: an indirect jump may not leave the scope of
      // a variable with a destructor.
      std::optional<VmError> error;
      if (!fn(std::span<const Decimal>(args, n), value, error)) [[unlikely]]
        VM_FAIL(std::move(*error));
    }
    sp = args;
    VM_PUSH(fresh_copy(value));
    VM_NEXT();
  }
call_done:
  if (fault != builtin::Fault::None) [[unlikely]]
    VM_FAIL(builtin::builtin_error(fault, std::span<const Decimal>(args, n)));
  sp = args;
  VM_PUSH(fresh_copy(result));
  VM_NEXT();
}

done: {
  if constexpr (traced) VM_STEP(len);
  // Computed here: a base + 1 kept from the start would hold a register through
  // every instruction.
  const Decimal* first = base;
  asm("" : "+r"(first));
  if (sp != first + 1) [[unlikely]]
    VM_FAIL(bad_end(static_cast<size_t>(sp - base)));
  {
    const Decimal value = stack_copy(*first);
    if constexpr (metered) {
      if (gas_used != nullptr) *gas_used = has_limit ? limit - remaining : 0;
    }
    if (!bounded && base != inline_base) [[unlikely]]
      std::free(base);
    return value;
  }
}

#undef VM_DISPATCH
#undef VM_STEP
#undef VM_NEXT
#undef VM_FAIL
#undef VM_CHARGE
#undef VM_NEED
#undef VM_PUSH
#undef VM_ARITH_SMALL
#undef VM_DIVIDE
#undef VM_CONST_ARITH
#undef VM_COMPARE
#undef VM_JUMP_TO
#undef VM_HAND_OVER
}

namespace vm_loop {
template Result execute<Mode::Free, true>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Free, false>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Charged, true>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Charged, false>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Metered, true>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Metered, false>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);
template Result execute<Mode::Traced, false>(const void*, const OpCode*, size_t, uint64_t, uint64_t*);

Result empty_program(uint64_t* gas_used) {
  if (gas_used != nullptr) *gas_used = 0;
  return unexpected(bad_end(0));
}
}  // namespace vm_loop

Result run_traced(const Program& program, const VmContext& context, std::optional<uint64_t> gas, StepHook hook,
                  void* arg, uint64_t* gas_used) {
  if (program.empty()) [[unlikely]]
    return vm_loop::empty_program(gas_used);
  const TraceStart start{&context, hook, arg, gas.has_value(), gas.value_or(0)};
  return execute<Mode::Traced, false>(&start, program.data(), program.size(), 0, gas_used);
}

}  // namespace vexlor
