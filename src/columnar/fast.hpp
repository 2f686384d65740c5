#pragma once
// The vectorised path: a program run one instruction at a time over a block of
// rows whose values are held as 64-bit coefficients at a scale shared by the
// block. It covers programs made of the common instructions (constants,
// variables, + - *, comparisons, not/and/or, max, min, abs, round to constant
// places, and conditionals) under no gas limit or a limit that no path through
// the program can reach. A row it cannot compute exactly (a null, a value or an
// intermediate beyond 64 bits, a negative zero) is marked for the single-row
// path, which gives that row's value or error.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "columnar/column.hpp"
#include "columnar/rows.hpp"
#include "compiler/bytecode.hpp"

namespace vexlor::columnar::fast {

enum class Op : uint8_t { Load, Const, Add, Sub, Mul, Neg, Not, And, Or, Eq, Ne, Lt, Le, Gt, Ge, Max, Min, Abs,
                          Round, Select };

struct Step {
  Op op;
  int32_t arg = 0;        // Load: column index; Round: places; Max/Min: argument count
  int64_t constant = 0;   // Const: the coefficient
  int32_t scale = 0;      // Const: its scale
};

struct Plan {
  std::vector<Step> steps;
  size_t depth = 0;  // the most values on the stack at once
};

// The plan of `program` over columns for `vars` (in that order), or nothing
// when the program is not covered or `gas` could stop some path through it.
std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::optional<uint64_t> gas);

// A block's values of one column, as coefficients at `scale`.
struct Lanes {
  const int64_t* values;
  int32_t scale;
  uint64_t bound;  // no value's magnitude is above it
  uint64_t least;  // nor below it
};

// True when every chunk of `column` that rows [row, row + count) touch can be
// loaded by load_lanes (decimals of scale 0..18, integers, booleans).
bool loadable(const Column& column, int64_t row, int64_t count);
// Loads the rows; `slow[k]` is set for a null or a value beyond 64 bits.
Lanes load_lanes(const Column& column, int64_t row, int64_t count, int64_t* out, uint8_t* slow);

// Per-thread scratch of the machine.
class Machine {
 public:
  explicit Machine(const Plan& plan);
  // Runs the plan over `count` rows; stores row first + k of `out` for every
  // k not marked in `slow` (which it may mark further).
  void run(std::span<const Lanes> columns, int64_t count, Rows& out, int64_t first, uint8_t* slow);

 private:
  const Plan& plan_;
  std::vector<int64_t, Uncleared<int64_t>> values_;  // written before read, block by block
  ByteVector scales_;
};

}  // namespace vexlor::columnar::fast
