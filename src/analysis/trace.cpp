#include "analysis/trace.hpp"

#include <algorithm>
#include <new>

namespace vexlor {

size_t operand_count(const OpCode& op) {
  switch (op.kind()) {
    case OpKind::PushConst:
    case OpKind::LoadVar:
    case OpKind::Jump:
      return 0;
    case OpKind::Neg:
    case OpKind::Pos:
    case OpKind::Not:
    case OpKind::JumpIfFalse:
      return 1;
    case OpKind::Call:
      return op.arg_count();
    default:
      return 2;
  }
}

std::string instruction_text(const OpCode& op) {
  std::string text(op_name(op.kind()));
  switch (op.kind()) {
    case OpKind::PushConst: return text + " " + op.constant().to_string();
    case OpKind::LoadVar: return text + " " + op.var().display();
    case OpKind::Jump:
    case OpKind::JumpIfFalse: return text + " " + std::to_string(op.target());
    case OpKind::Call: return text + " " + op.call_name() + " " + std::to_string(op.arg_count());
    default: return text;
  }
}

namespace {

// The hook's state: the step before the current instruction is completed when
// the next view arrives.
struct Recorder {
  const Program& program;
  Trace& trace;
  bool pending = false;

  bool on_step(const StepView& view) {
    try {
      if (pending) finish(view);
      if (view.pc >= program.size()) return true;
      const OpCode& op = program[view.pc];
      const size_t available = static_cast<size_t>(view.top - view.base);
      const size_t n = std::min(operand_count(op), available);
      TraceStep step;
      step.index = view.pc;
      step.first_input = trace.values.size();
      step.input_count = static_cast<uint32_t>(n);
      step.gas = view.gas;
      trace.values.insert(trace.values.end(), view.top - n, view.top);
      trace.steps.push_back(step);
      pending = true;
      return true;
    } catch (const std::bad_alloc&) {
      trace.out_of_memory = true;
      return false;
    }
  }

  void finish(const StepView& view) {
    TraceStep& step = trace.steps.back();
    const OpCode& op = program[step.index];
    step.gas = view.gas;
    pending = false;
    if (op.kind() == OpKind::Jump) return;
    if (op.kind() == OpKind::JumpIfFalse) {
      step.branch = trace.values[step.first_input].is_zero() ? TraceStep::Branch::Else : TraceStep::Branch::Then;
      return;
    }
    if (view.top > view.base) {
      step.has_output = true;
      step.output = view.top[-1];
    }
  }

  static bool hook(void* arg, const StepView& view) { return static_cast<Recorder*>(arg)->on_step(view); }
};

}  // namespace

Trace trace_run(const Program& program, const VmContext& context, std::optional<uint64_t> gas) {
  Trace trace;
  try {
    trace.steps.reserve(std::min<size_t>(program.size(), 4096));
    trace.values.reserve(std::min<size_t>(2 * program.size(), 8192));
    Recorder recorder{program, trace};
    uint64_t used = 0;
    auto outcome = run_traced(program, context, gas, &Recorder::hook, &recorder, &used);
    if (trace.out_of_memory) return trace;
    trace.gas = used;
    // A failing step ends the run before its output: it keeps the final gas.
    if (!outcome.ok() && recorder.pending) trace.steps.back().gas = used;
    trace.outcome.emplace(std::move(outcome));
  } catch (const std::bad_alloc&) {
    trace.out_of_memory = true;
  }
  return trace;
}

}  // namespace vexlor
