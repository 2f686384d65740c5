#pragma once
// The vectorised path: a program run one instruction at a time over a block of
// rows. A value is held either as 64-bit coefficients at a scale shared by the
// block (narrow lanes, the cheap form), or as full decimals, each with its own
// scale and sign (wide lanes); each instruction picks the cheaper form that
// holds its block exactly. Every instruction, built-in function and column type
// is covered, with nulls carried as a mask and each row's gas as the sum of the
// costs on its own path. A row whose evaluation fails (or may exceed the gas
// limit, or cannot be read) is marked for the single-row path, which gives
// that row's error.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "columnar/column.hpp"
#include "columnar/rows.hpp"
#include "compiler/bytecode.hpp"

namespace vexlor::columnar::fast {

enum class Op : uint8_t { Load, Const, Add, Sub, Mul, Div, FloorDiv, Mod, Pow, Neg, Not, And, Or, Eq, Ne, Lt, Le, Gt,
                          Ge, Max, Min, Abs, Round, Select, Call };

// The built-in functions, in the order of their slots.
enum class Fn : uint8_t { Add, Mul, Max, Round, Sqrt, Min, Abs, Floor, Ceil, Sum, Average };

struct Step {
  Op op = Op::Const;
  int32_t arg = 0;     // Load: column index; Round: places; Max, Min, Call: argument count
  Fn fn = Fn::Add;     // Call
  uint32_t cost = 0;   // gas of the instructions the step stands for (Pow: without the exponent's part)
  Decimal constant;    // Const
};

struct Plan {
  std::vector<Step> steps;
  size_t depth = 0;            // the most values on the stack at once
  bool metered = false;        // some row's path may cost more than the limit
  uint64_t gas_limit = 0;
};

// A variable with one value for every row.
struct Constant {
  VarId var;
  Decimal value;
};

// The plan of `program` over columns for `vars` (in that order) and the
// constants, or nothing when the program is not covered (jumps other than those
// of conditionals, unknown functions or variables).
std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::span<const Constant> constants,
                              std::optional<uint64_t> gas);
inline std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::optional<uint64_t> gas) {
  return make_plan(program, vars, {}, gas);
}

// A block's values of one column: narrow (`values` at `scale`, a row's own
// scale in `own` where rows differ) or wide (`wide`); `null` marks null rows.
struct Lanes {
  const int64_t* values = nullptr;
  int32_t scale = 0;
  uint64_t bound = 0;  // no narrow value's magnitude is above it
  uint64_t least = 0;  // nor below it
  const uint8_t* own = nullptr;
  const Decimal* wide = nullptr;
  const uint8_t* null = nullptr;
};

// True when every chunk of `column` that rows [row, row + count) touch can be
// loaded by load_lanes (decimals of scale 0..18, integers, booleans).
bool loadable(const Column& column, int64_t row, int64_t count);
// Loads the rows as narrow lanes, null rows set in `null` (their lanes hold 1);
// false when a value does not fit 64 bits.
bool load_lanes(const Column& column, int64_t row, int64_t count, int64_t* out, uint8_t* null, Lanes& lanes);
// Decimals `w` (null rows skipped) as narrow lanes at their largest scale, with
// own scales where they differ; false when one does not fit (or is a negative zero).
bool narrow_lanes(const Decimal* w, const uint8_t* null, int64_t count, int64_t* out, uint8_t* own, Lanes& lanes);

namespace ops {
struct Entry;
}

// Per-thread scratch of the machine.
class Machine {
 public:
  explicit Machine(const Plan& plan);
  ~Machine();
  // Runs the plan over `count` rows; stores row first + k of `out` for every k
  // not marked in `slow` (which it may mark further) and sets null[k] for the
  // rows whose result is null.
  void run(std::span<const Lanes> columns, int64_t count, Rows& out, int64_t first, uint8_t* slow, uint8_t* null);

  struct Scratch {
    std::vector<int64_t, Uncleared<int64_t>> values;  // written before read, block by block
    ByteVector scales, nulls;
    // Decimals, never cleared (a cleared block of them would cost more than a short call's rows).
    ByteVector wides;
    std::vector<uint64_t, Uncleared<uint64_t>> gas;
    std::vector<ops::Entry> stack;
  };

 private:
  const Plan& plan_;
  Scratch scratch_;
};

}  // namespace vexlor::columnar::fast
