#pragma once
// One run of a plan over one block (internal to the machine): a stack of
// values, each narrow or wide (see fast.hpp), with its null rows and gas. The
// value at stack position p lives in the scratch's slot p. The kernels are
// grouped by family: kernels_arith.cpp (+ - *, comparisons, logic, unary),
// kernels_pick.cpp (max, min, round, conditionals), kernels_wide.cpp (every
// instruction over wide lanes: division, remainder, powers, functions).

#include <span>
#include <vector>

#include "columnar/fast.hpp"
#include "columnar/fast_ops.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar::fast {

using ops::Entry;

class Block {
 public:
  Block(Machine::Scratch& scratch, const Plan& plan, int64_t count, uint8_t* slow);

  void step(const Step& step, std::span<const Lanes> columns);
  // Stores the result's rows, marks rows beyond the gas limit slow, and sets
  // null[k] for null results.
  void finish(Rows& out, int64_t first, uint8_t* null);

  // Row k of `e` as a decimal.
  static Decimal value_at(const Entry& e, int64_t k);
  static bool truth_at(const Entry& e, int64_t k) { return e.wide ? !value_at(e, k).is_zero() : e.at(k) != 0; }

 private:
  int64_t* slot(size_t p) { return s_.values.data() + p * BLOCK_ROWS; }
  uint8_t* own_slot(size_t p) { return s_.scales.data() + p * BLOCK_ROWS; }
  uint8_t* null_slot(size_t p) { return s_.nulls.data() + p * BLOCK_ROWS; }
  Decimal* wide_slot(size_t p) { return reinterpret_cast<Decimal*>(s_.wides.data()) + p * BLOCK_ROWS; }
  uint64_t* gas_slot(size_t p) { return s_.gas.data() + p * BLOCK_ROWS; }

  // The null rows and gas of the result of `step` over the top `n` values,
  // written in the slot of the lowest of them.
  void bookkeeping(const Step& step, size_t n, const uint8_t*& null, uint64_t& gas, const uint64_t*& gas_v);

  // Narrow kernels: false when the operands are not all narrow or the result
  // may not fit narrow lanes (nothing is changed then).
  bool narrow(const Step& step);
  bool two_operands(Op op);
  void own_scales(Op op, const Entry& a, const Entry& b, size_t p, Entry& r);
  bool unary(Op op);
  bool extreme(Op op, size_t n);
  bool round(int32_t places);
  bool select();

  // The same over wide lanes, row by row with the decimal operations; `null`:
  // the result's null rows, skipped.
  void wide(const Step& step, size_t n, const uint8_t* null);
  const Decimal* widen(const Entry& e, size_t p);
  void try_narrow(size_t p, const uint8_t* null);

  Machine::Scratch& s_;
  const Plan& plan_;
  const int64_t count_;
  uint8_t* const slow_;
  std::vector<Entry>& stack_;  // the scratch's
};

}  // namespace vexlor::columnar::fast
