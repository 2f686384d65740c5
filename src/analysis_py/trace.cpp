// The native part of py_vexlor.explain.
//
// prepare(program_json, source, max_depth) -> (prepared, texts, spans, loaders)
//   prepared: an opaque object for trace(); texts: each instruction's text;
//   spans: each instruction's (start, end) in `source`, or None without a source
//   (or when the source does not compile to that very program); loaders: for
//   each variable the program reads, in order of first use, the JSON of a
//   program that only loads it (the package reads the values through them).
// trace(prepared, values, gas) -> (recorded, outcome, gas, step_count)
//   values: each variable's value (a decimal.Decimal, or None: absent), in the
//   loaders' order; gas: the limit, or None.
//   recorded: an opaque object for steps(); outcome: ("ok", text) or (kind,
//   message): the error's kind name and the message evaluate raises for it.
// steps(recorded) -> [(index, inputs, output, gas, branch)]: inputs a tuple of
//   decimal texts (the top of stack last), output a text or None, branch "then",
//   "else" or None. Made on request only: a trace nobody reads costs no objects.

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "analysis/spans.hpp"
#include "analysis/trace.hpp"
#include "analysis_py/entries.hpp"
#include "compiler/compiler.hpp"

namespace vexlor::analysis_py {
namespace {

struct DropRef {
  void operator()(PyObject* obj) const { Py_DECREF(obj); }
};
using Ref = std::unique_ptr<PyObject, DropRef>;

constexpr const char* PREPARED = "py_vexlor._analysis.prepared";
constexpr const char* RECORDED = "py_vexlor._analysis.recorded";

constexpr const char* KIND_NAMES[] = {"RuntimeError",     "StackUnderflow",           "DivisionByZero",
                                      "InvalidArgumentCount", "VariableNotFound",     "FunctionNotFound",
                                      "InvalidDecimalConversion", "Overflow",           "OutOfGas"};

// Read-only once made: calls on any thread may share it.
struct Prepared {
  Program program;
  std::vector<VarId> vars;  // distinct, in order of first use
};

void release_prepared(PyObject* capsule) { delete static_cast<Prepared*>(PyCapsule_GetPointer(capsule, PREPARED)); }
void release_recorded(PyObject* capsule) { delete static_cast<Trace*>(PyCapsule_GetPointer(capsule, RECORDED)); }

PyObject* text_of(const Decimal& value) {
  const DecimalText text = value.text();
  return PyUnicode_FromStringAndSize(text.data, static_cast<Py_ssize_t>(text.size));
}

PyObject* text_of(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The list of make(i) for i < n, or nullptr with the error set.
template <class Make>
PyObject* list_of(size_t n, Make make) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (size_t i = 0; i < n; ++i) {
    PyObject* item = make(i);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// What evaluate raises for `error`: its message (the class follows from the kind).
std::string message_of(const VmError& error) {
  switch (error.kind()) {
    case VmError::Kind::DivisionByZero: return "Division by zero";
    case VmError::Kind::Overflow: return error.message();
    default: return error.to_string();
  }
}

PyObject* step_tuple(const Trace& trace, const TraceStep& step) {
  Ref inputs(PyTuple_New(step.input_count));
  if (!inputs) return nullptr;
  for (uint32_t i = 0; i < step.input_count; ++i) {
    PyObject* v = text_of(trace.values[step.first_input + i]);
    if (v == nullptr) return nullptr;
    PyTuple_SET_ITEM(inputs.get(), i, v);
  }
  Ref output(step.has_output ? text_of(step.output) : Py_NewRef(Py_None));
  Ref index(PyLong_FromSize_t(step.index));
  Ref gas(PyLong_FromUnsignedLongLong(step.gas));
  Ref branch(step.branch == TraceStep::Branch::None ? Py_NewRef(Py_None)
                                                    : PyUnicode_FromString(step.branch == TraceStep::Branch::Then
                                                                               ? "then"
                                                                               : "else"));
  if (!output || !index || !gas || !branch) return nullptr;
  PyObject* tuple = PyTuple_New(5);
  if (tuple == nullptr) return nullptr;
  PyTuple_SET_ITEM(tuple, 0, index.release());
  PyTuple_SET_ITEM(tuple, 1, inputs.release());
  PyTuple_SET_ITEM(tuple, 2, output.release());
  PyTuple_SET_ITEM(tuple, 3, gas.release());
  PyTuple_SET_ITEM(tuple, 4, branch.release());
  return tuple;
}

// A value the package read through a loader: its str() as a decimal.
bool read_value(PyObject* item, Decimal& out) {
  Ref text(PyObject_Str(item));
  if (!text) return false;
  std::string s;
  if (!text_arg(text.get(), "value", s)) return false;
  auto value = Decimal::from_str(s);
  if (!value.ok()) value = Decimal::from_scientific(s);
  if (!value.ok()) {
    PyErr_Format(PyExc_ValueError, "not a decimal value: %s", s.c_str());
    return false;
  }
  out = *value;
  return true;
}

}  // namespace

PyObject* prepare(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("prepare", nargs, 3)) return nullptr;
  std::string json, source;
  std::optional<size_t> max_depth;
  const bool has_source = args[1] != Py_None;
  if (!text_arg(args[0], "program_json", json) || (has_source && !text_arg(args[1], "source", source)) ||
      !size_arg(args[2], "max_depth", max_depth, true)) {
    return nullptr;
  }
  auto program = read_json(json);
  if (!program.ok()) {
    PyErr_SetString(PyExc_ValueError, program.error().c_str());
    return nullptr;
  }
  auto prepared = std::make_unique<Prepared>();
  prepared->program = std::move(*program);
  const Program& code = prepared->program;
  for (const OpCode& op : code) {
    if (op.kind() == OpKind::LoadVar && std::find(prepared->vars.begin(), prepared->vars.end(), op.var()) ==
                                            prepared->vars.end()) {
      prepared->vars.push_back(op.var());
    }
  }
  std::optional<std::vector<InstructionSpan>> spans;
  if (has_source && max_depth) {
    Program compiled;
    auto found = instruction_spans(source, *max_depth, compiled);
    if (found.ok() && compiled == code) spans = std::move(*found);
  }
  Ref texts(list_of(code.size(), [&](size_t i) { return text_of(instruction_text(code[i])); }));
  if (!texts) return nullptr;
  Ref span_list(spans ? list_of(spans->size(),
                                [&](size_t i) {
                                  return Py_BuildValue("(nn)", static_cast<Py_ssize_t>((*spans)[i].start),
                                                       static_cast<Py_ssize_t>((*spans)[i].end));
                                })
                      : Py_NewRef(Py_None));
  if (!span_list) return nullptr;
  Ref loaders(list_of(prepared->vars.size(), [&](size_t i) {
    Program loader;
    loader.push_load_var(prepared->vars[i]);
    return text_of(write_json(loader));
  }));
  if (!loaders) return nullptr;
  Ref capsule(PyCapsule_New(prepared.get(), PREPARED, release_prepared));
  if (!capsule) return nullptr;
  prepared.release();
  return PyTuple_Pack(4, capsule.get(), texts.get(), span_list.get(), loaders.get());
}

PyObject* trace(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("trace", nargs, 3)) return nullptr;
  const auto* prepared = static_cast<const Prepared*>(PyCapsule_GetPointer(args[0], PREPARED));
  if (prepared == nullptr) return nullptr;
  std::optional<uint64_t> gas;
  if (!u64_arg(args[2], "gas", gas)) return nullptr;
  const std::vector<VarId>& vars = prepared->vars;
  if (!PyList_Check(args[1]) || PyList_GET_SIZE(args[1]) != static_cast<Py_ssize_t>(vars.size())) {
    PyErr_SetString(PyExc_TypeError, "values must be a list with one item per variable");
    return nullptr;
  }
  Ref values(PyList_GetSlice(args[1], 0, PyList_GET_SIZE(args[1])));  // a copy nothing else can change
  if (!values) return nullptr;
  VmContext context;
  for (size_t i = 0; i < vars.size(); ++i) {
    PyObject* item = PyList_GET_ITEM(values.get(), static_cast<Py_ssize_t>(i));
    if (item == Py_None) continue;
    Decimal value;
    if (!read_value(item, value)) return nullptr;
    context.variables.insert_or_assign(vars[i], value);
  }

  auto trace = std::make_unique<Trace>();
  PyThreadState* released = PyEval_SaveThread();
  *trace = trace_run(prepared->program, context, gas);  // never throws
  PyEval_RestoreThread(released);
  if (trace->out_of_memory) return PyErr_NoMemory();

  const auto& outcome = *trace->outcome;
  Ref result;
  if (outcome.ok()) {
    Ref text(text_of(*outcome));
    if (!text) return nullptr;
    result.reset(Py_BuildValue("(sO)", "ok", text.get()));
  } else {
    const std::string message = message_of(outcome.error());
    result.reset(Py_BuildValue("(ss#)", KIND_NAMES[static_cast<size_t>(outcome.error().kind())], message.data(),
                               static_cast<Py_ssize_t>(message.size())));
  }
  if (!result) return nullptr;
  const unsigned long long gas_used = trace->gas;
  const Py_ssize_t count = static_cast<Py_ssize_t>(trace->steps.size());
  Ref recorded(PyCapsule_New(trace.get(), RECORDED, release_recorded));
  if (!recorded) return nullptr;
  trace.release();
  return Py_BuildValue("(OOKn)", recorded.get(), result.get(), gas_used, count);
}

PyObject* steps(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("steps", nargs, 1)) return nullptr;
  const auto* trace = static_cast<const Trace*>(PyCapsule_GetPointer(args[0], RECORDED));
  if (trace == nullptr) return nullptr;
  return list_of(trace->steps.size(), [&](size_t i) { return step_tuple(*trace, trace->steps[i]); });
}

}  // namespace vexlor::analysis_py
