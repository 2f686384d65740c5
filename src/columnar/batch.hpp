#pragma once
// Tables read batch by batch: one input schema bound once to the variables of
// several programs (and to the columns passed through), then each batch
// evaluated for every program on its own.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "columnar/runner.hpp"

namespace vexlor::columnar {

// A value shared by every row (given instead of a column).
struct SharedValue {
  VarId var;
  Decimal value;
};

struct OutputProgram {
  std::string name;
  Program program;
  std::vector<VarId> vars;     // ordered by their display texts
  std::vector<int64_t> child;  // per variable: the schema's child, or -1 - k for shared value k
};

struct BatchPlan {
  std::vector<OutputProgram> outputs;
  std::vector<SharedValue> shared;
  std::vector<int64_t> keep;  // the children passed through, in order
};

// The variables of a program, ordered by their display texts.
std::vector<VarId> variables_of(const Program& program);

struct SchemaProblem {
  enum class Kind : uint8_t { Missing, Unsupported, Malformed } kind;  // RuntimeError, TypeError, ValueError
  std::string message;
};

// Binds `plan` (outputs with `vars` set) to a struct schema: each variable not
// among the shared values to the one child named for it, whose type must be
// readable; each of `keep` to its child. A name given twice, as a child and a
// shared value, or as two children a program reads, is Malformed.
std::optional<SchemaProblem> bind_schema(const ArrowSchema& schema, std::span<const std::string> keep, BatchPlan& plan);

struct BatchRun {
  std::vector<RunResult> results;  // one per output
  std::optional<std::string> malformed;
};

// Evaluates every output over one batch of the bound schema.
BatchRun run_batch(const BatchPlan& plan, const ArrowSchema& schema, const ArrowArray& batch,
                   const RunOptions& options);

// Moves the kept children out of `batch` (sliced to the batch's rows); the
// batch must be released at once afterwards. The error says what is malformed.
std::optional<std::string> take_kept(const BatchPlan& plan, ArrowArray& batch, std::vector<ArrowArray>& out);

// A deep copy of a schema (at most 64 levels deep), renamed when `rename` is set;
// false on failure.
bool copy_schema(const ArrowSchema& from, ArrowSchema* to, const char* rename = nullptr);

// The Arrow type text of a format ("decimal128(18, 2)", "int64", "utf8", ...):
// dictionary columns give the type of their values.
std::string arrow_type_text(const ArrowSchema& field);

}  // namespace vexlor::columnar
