// The evaluation calls: tables read batch by batch into result columns, and
// streams of result batches read by any consumer.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "columnar/stream.hpp"
#include "columnar/table_out.hpp"
#include "columnar_py/glue.hpp"
#include "compiler/compiler.hpp"

namespace vexlor::columnar::py {
namespace {

std::atomic<unsigned long> main_thread{0};

// A message that may hold a producer's bytes: shown escaped where not UTF-8.
bool fail_text(PyObject* type, const std::string& message) {
  Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "backslashreplace"));
  if (text != nullptr) PyErr_SetObject(type, text.get());
  return false;
}

// The interpreter lock released for the scope of a call that may have been
// made with it held (a consumer calls from any thread, with or without it).
class Unlocked {
 public:
  Unlocked() : saved_(PyGILState_Check() ? PyEval_SaveThread() : nullptr) {}
  ~Unlocked() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* saved_;
};

// Signals checked while a call waits or runs: on the main thread only, where
// Python handles them, and at most every 20 ms. The exception a handler raised
// is kept for the caller.
struct Interrupt {
  explicit Interrupt(bool keep_exception = true) : keep(keep_exception) {}
  bool keep;
  std::chrono::steady_clock::time_point last{};
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  Interrupt(const Interrupt&) = delete;
  Interrupt& operator=(const Interrupt&) = delete;
  ~Interrupt() { drop(); }
  void drop() {  // with the lock held, or when nothing was kept
    Py_CLEAR(type);
    Py_CLEAR(value);
    Py_CLEAR(traceback);
  }
  // Raises the kept exception (a KeyboardInterrupt if none was kept).
  void raise() {
    if (type != nullptr) {
      PyErr_Restore(type, value, traceback);
      type = value = traceback = nullptr;
    } else {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
    }
  }
};

bool poll_signals(void* arg) {
  auto& s = *static_cast<Interrupt*>(arg);
  const auto now = std::chrono::steady_clock::now();
  if (now - s.last < std::chrono::milliseconds(20)) return false;
  s.last = now;
  if (PyThread_get_thread_ident() != main_thread.load(std::memory_order_relaxed)) return false;
  const PyGILState_STATE gil = PyGILState_Ensure();
  bool cancel = false;
  if (PyErr_CheckSignals() < 0) {
    cancel = true;
    if (s.keep && s.type == nullptr) PyErr_Fetch(&s.type, &s.value, &s.traceback);
    PyErr_Clear();
  }
  PyGILState_Release(gil);
  return cancel;
}

PyObject* raise(PyObject* type, const std::string& message) {
  fail(type, message);
  return nullptr;
}

bool optional_i64(PyObject* obj, const char* name, std::optional<int64_t>& out) {
  if (obj == Py_None) return true;
  if (!PyLong_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "%s must be an int or None, not '%s'", name, Py_TYPE(obj)->tp_name);
    return false;
  }
  const long long v = PyLong_AsLongLong(obj);
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

// The arguments shared by evaluate and open_stream.
struct Call {
  BatchPlan plan;
  std::vector<std::optional<int32_t>> scales;
  std::vector<std::string> keep;
  RunOptions options;
};

bool read_call(PyObject* module, PyObject* const* args, Py_ssize_t nargs, Call& call) {
  if (nargs != 7) return fail(PyExc_TypeError, "expected 7 positional arguments");
  const int errors_to_null = PyObject_IsTrue(args[5]);
  if (errors_to_null < 0) return false;
  Ref outputs(PySequence_Tuple(args[0]));
  Ref keep(PySequence_Tuple(args[2]));
  if (outputs == nullptr || keep == nullptr) return false;
  if (PyTuple_GET_SIZE(outputs.get()) == 0) return fail(PyExc_ValueError, "no expression to evaluate");
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(outputs.get()); ++i) {
    PyObject* item = PyTuple_GET_ITEM(outputs.get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 3 || !PyUnicode_Check(PyTuple_GET_ITEM(item, 0))) {
      return fail(PyExc_TypeError, "outputs must be (name, program, scale) tuples");
    }
    Py_ssize_t size = 0;
    const char* name = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(item, 0), &size);
    if (name == nullptr) return false;
    OutputProgram out;
    out.name.assign(name, static_cast<size_t>(size));
    if (!read_program(module, PyTuple_GET_ITEM(item, 1), out.program)) return false;
    out.vars = variables_of(out.program);
    std::optional<int64_t> scale;
    if (!optional_i64(PyTuple_GET_ITEM(item, 2), "scale", scale)) return false;
    if (scale && (*scale < 0 || *scale > RESULT_PRECISION)) return fail(PyExc_ValueError, "scale must be between 0 and 38");
    call.scales.push_back(scale ? std::optional<int32_t>(static_cast<int32_t>(*scale)) : std::nullopt);
    call.plan.outputs.push_back(std::move(out));
  }
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(keep.get()); ++i) {
    Py_ssize_t size = 0;
    PyObject* name = PyTuple_GET_ITEM(keep.get(), i);
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (text == nullptr) return PyErr_Occurred() ? false : fail(PyExc_TypeError, "keep must be column names");
    call.keep.emplace_back(text, static_cast<size_t>(size));
  }
  if (!read_shared(args[3], call.plan.shared)) return false;
  std::optional<int64_t> gas, threads;
  if (!optional_i64(args[4], "gas", gas) || !optional_i64(args[6], "threads", threads)) return false;
  if (gas && *gas < 0) return fail(PyExc_ValueError, "gas must be non-negative");
  if (threads && *threads < 1) return fail(PyExc_ValueError, "threads must be at least 1");
  if (gas) call.options.gas = static_cast<uint64_t>(*gas);
  call.options.errors_to_null = errors_to_null != 0;
  call.options.threads = static_cast<unsigned>(std::min<int64_t>(threads.value_or(1), 1024));
  return true;
}

bool raise_problem(const SchemaProblem& p) {
  switch (p.kind) {
    case SchemaProblem::Kind::Missing: return fail_text(PyExc_RuntimeError, p.message);
    case SchemaProblem::Kind::Unsupported: return fail_text(PyExc_TypeError, p.message);
    default: return fail_text(PyExc_ValueError, p.message);
  }
}

// Raises the failure a stream ended with (not End).
void raise_status(const StreamStatus& s, Interrupt& interrupt) {
  using Kind = StreamStatus::Kind;
  switch (s.kind) {
    case Kind::RowFailed: raise_row_error(*s.error, s.row); return;
    case Kind::Malformed:
      fail_text(s.message.find("unsupported type ") != std::string::npos ? PyExc_TypeError : PyExc_ValueError,
                s.message);
      return;
    case Kind::InputFailed:
      if (s.message.find("KeyboardInterrupt") != std::string::npos) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        return;
      }
      fail_text(s.code == ENOMEM ? PyExc_MemoryError : PyExc_ValueError,
                "Arrow stream failed to give its next array (error " + std::to_string(s.code) +
                                      (s.message.empty() ? ")" : "): " + s.message));
      return;
    case Kind::Interrupted: interrupt.raise(); return;
    default: PyErr_NoMemory(); return;
  }
}

PyObject* kept_capsule(std::shared_ptr<const KeptColumns> kept) {
  auto* held = new std::shared_ptr<const KeptColumns>(std::move(kept));
  PyObject* capsule = PyCapsule_New(held, "py_vexlor.kept", [](PyObject* c) {
    delete static_cast<std::shared_ptr<const KeptColumns>*>(PyCapsule_GetPointer(c, "py_vexlor.kept"));
  });
  if (capsule == nullptr) delete held;
  return capsule;
}

// The result columns of the runs of each output, as a list of ColumnResult.
PyObject* result_list(PyObject* module, Call& call, std::vector<std::vector<RunResult>>& runs,
                      const std::vector<std::string>& names) {
  Ref list(PyList_New(0));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < runs.size(); ++i) {
    bool out_of_memory = false;
    auto made = make_result(std::move(runs[i]), call.scales[i], out_of_memory);
    if (out_of_memory) return PyErr_NoMemory();
    if (!made.ok()) {
      raise_scale_overflow(made.error(), false);
      return nullptr;
    }
    made->name = names[i];
    Ref result(new_result(module, std::make_shared<const ResultColumn>(std::move(*made))));
    if (result == nullptr || PyList_Append(list.get(), result.get()) < 0) return nullptr;
  }
  return list.release();
}

// Releases an input not handed to a TableStream, without the lock (a producer's
// release may need it, or wait for a thread that does).
void release_input(ArrowArrayStream& input, ArrowSchema& schema) {
  Py_BEGIN_ALLOW_THREADS
  if (input.release != nullptr) input.release(&input);
  if (schema.release != nullptr) schema.release(&schema);
  Py_END_ALLOW_THREADS
}

// The table's input stream with its schema checked against the call.
std::unique_ptr<TableStream> open_checked(PyObject* data, Call& call, unsigned read_ahead) {
  ArrowArrayStream input{};
  ArrowSchema schema{};
  bool single = false;
  if (!open_table(data, input, schema, single)) return nullptr;
  if (auto problem = bind_schema(schema, call.keep, call.plan)) {
    release_input(input, schema);
    raise_problem(*problem);
    return nullptr;
  }
  try {
    return std::make_unique<TableStream>(input, schema, std::move(call.plan), call.options, single ? 0 : read_ahead);
  } catch (const std::bad_alloc&) {
    release_input(input, schema);
    PyErr_NoMemory();
    return nullptr;
  }
}

void close_unlocked(TableStream& table) {
  Py_BEGIN_ALLOW_THREADS
  table.close();
  Py_END_ALLOW_THREADS
}

PyObject* evaluate_table(PyObject* module, PyObject* data, Call& call) {
  const size_t outputs = call.plan.outputs.size();
  const bool keeping = !call.keep.empty();
  std::vector<std::string> names;
  for (const auto& o : call.plan.outputs) names.push_back(o.name);
  std::unique_ptr<TableStream> table = open_checked(data, call, call.options.threads);
  if (table == nullptr) return nullptr;
  Interrupt interrupt;
  table->set_poll(poll_signals, &interrupt);
  std::shared_ptr<KeptColumns> kept;
  if (keeping) {
    kept = std::make_shared<KeptColumns>();
    if (!output_schema(table->schema(), table->plan().keep, {}, {}, &kept->schema)) {
      close_unlocked(*table);
      return PyErr_NoMemory();
    }
  }
  std::vector<std::vector<RunResult>> runs(outputs);
  StreamStatus status;
  for (;;) {
    BatchResults batch;
    Py_BEGIN_ALLOW_THREADS
    status = table->next(batch);
    Py_END_ALLOW_THREADS
    if (status.kind != StreamStatus::Kind::Batch) break;
    for (size_t i = 0; i < outputs; ++i) runs[i].push_back(std::move(batch.results[i]));
    if (keeping) {
      kept->batches.push_back(std::move(batch.kept));
      batch.kept.clear();
      kept->lengths.push_back(batch.length);
    }
  }
  close_unlocked(*table);
  if (status.kind != StreamStatus::Kind::End) {
    raise_status(status, interrupt);
    return nullptr;
  }
  if (runs[0].empty()) {  // no rows: one empty run per output
    for (auto& r : runs) {
      r.emplace_back();
      r.back().rows.data.allocate(0);
    }
  }
  Ref list(result_list(module, call, runs, names));
  if (list == nullptr) return nullptr;
  Ref kept_obj(kept ? kept_capsule(std::move(kept)) : Py_NewRef(Py_None));
  if (kept_obj == nullptr) return nullptr;
  return PyTuple_Pack(2, list.get(), kept_obj.get());
}

PyObject* evaluate_mapping(PyObject* module, PyObject* data, Call& call) {
  if (!call.keep.empty()) {
    return fail(PyExc_ValueError,
                "keep= passes Arrow columns through unchanged: data must be a table exporting the Arrow PyCapsule "
                "interface, not a mapping")
               ? nullptr
               : nullptr;
  }
  BatchPlan& plan = call.plan;
  std::vector<std::pair<std::string, VarId>> wanted;
  for (const auto& out : plan.outputs) {
    for (const VarId& v : out.vars) {
      const bool shared = std::any_of(plan.shared.begin(), plan.shared.end(), [&](const SharedValue& s) { return s.var == v; });
      if (!shared) wanted.emplace_back(v.display(), v);
    }
  }
  std::sort(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  wanted.erase(std::unique(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
               wanted.end());
  std::vector<VarId> vars;
  for (auto& w : wanted) vars.push_back(w.second);
  std::vector<Column> columns(vars.size());
  for (size_t j = 0; j < vars.size(); ++j) columns[j].key = vars[j].display();
  int64_t rows = 0;
  Holdings holdings;
  std::vector<VarId> names;
  if (!read_mapping(data, vars, columns, rows, holdings, names)) return nullptr;
  for (const SharedValue& s : plan.shared) {
    if (std::find(names.begin(), names.end(), s.var) != names.end()) {
      return raise(PyExc_ValueError, "'" + s.var.display() + "' is given both in vars and as a column");
    }
  }
  std::vector<std::vector<BoundColumn>> bound(plan.outputs.size());
  std::vector<std::vector<BoundConstant>> constants(plan.outputs.size());
  for (size_t i = 0; i < plan.outputs.size(); ++i) {
    for (const VarId& v : plan.outputs[i].vars) {
      const auto s = std::find_if(plan.shared.begin(), plan.shared.end(), [&](const SharedValue& x) { return x.var == v; });
      if (s != plan.shared.end()) {
        constants[i].push_back({v, s->value});
      } else {
        bound[i].push_back({v, &columns[static_cast<size_t>(std::find(vars.begin(), vars.end(), v) - vars.begin())]});
      }
    }
  }
  Interrupt interrupt;
  std::vector<std::vector<RunResult>> runs(plan.outputs.size());
  bool out_of_memory = false, cancelled = false;
  RunOptions options = call.options;
  options.poll = poll_signals;
  options.poll_arg = &interrupt;
  Py_BEGIN_ALLOW_THREADS
  try {
    for (size_t i = 0; i < plan.outputs.size() && !cancelled; ++i) {
      options.constants = constants[i];
      runs[i].push_back(run_columns(plan.outputs[i].program, bound[i], rows, options));
      out_of_memory |= runs[i].back().out_of_memory;
      cancelled |= runs[i].back().cancelled;
    }
  } catch (const std::exception&) {
    out_of_memory = true;
  }
  Py_END_ALLOW_THREADS
  if (out_of_memory) return PyErr_NoMemory();
  if (cancelled) {
    interrupt.raise();
    return nullptr;
  }
  const std::pair<int64_t, RowError>* first = nullptr;
  for (auto& r : runs) {
    if (!call.options.errors_to_null && r[0].failure && (first == nullptr || r[0].failure->first < first->first)) {
      first = &*r[0].failure;
    }
  }
  if (first != nullptr) {
    raise_row_error(first->second, first->first);
    return nullptr;
  }
  std::vector<std::string> output_names;
  for (const auto& o : plan.outputs) output_names.push_back(o.name);
  Ref list(result_list(module, call, runs, output_names));
  if (list == nullptr) return nullptr;
  return PyTuple_Pack(2, list.get(), Py_None);
}

// --- evaluate_stream ------------------------------------------------------------

// The evaluated stream, shared by the pending object and its exports: any
// number may be made (a consumer may read the schema of one first), but only
// one export reads batches.
struct OutputShared {
  std::unique_ptr<TableStream> table;
  std::vector<std::string> names;
  std::vector<int32_t> scales;
  std::vector<ExportType> types;
  Interrupt interrupt{false};  // nothing kept: the stream ends with an error instead
  std::atomic<bool> started{false};
  ~OutputShared() {
    if (table != nullptr) {
      Unlocked unlocked;  // the reader may be waiting for the lock in a producer
      table->close();
    }
  }
};

// What one consumer holds.
struct OutputStream {
  std::shared_ptr<OutputShared> shared;
  bool reading = false;
  std::string error;
  int code = 0;
};

OutputStream& output_of(ArrowArrayStream* stream) { return *static_cast<OutputStream*>(stream->private_data); }

int output_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  const OutputShared& o = *output_of(stream).shared;
  try {
    return output_schema(o.table->schema(), o.table->plan().keep, o.names, o.types, out) ? 0 : ENOMEM;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

int output_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  OutputStream& o = output_of(stream);
  OutputShared& shared = *o.shared;
  std::memset(out, 0, sizeof *out);
  if (o.code != 0) return o.code;
  if (!o.reading) {
    if (shared.started.exchange(true)) {
      o.error = "this stream is already read by another consumer: the result of evaluate_stream can be read once";
      return o.code = EINVAL;
    }
    o.reading = true;
  }
  Unlocked unlocked;
  try {
    BatchResults batch;
    const StreamStatus status = shared.table->next(batch);
    if (status.kind == StreamStatus::Kind::End) return 0;
    if (status.kind == StreamStatus::Kind::Batch) {
      auto made = output_batch(batch, shared.names, shared.scales, out);
      if (made.ok() && *made) return 0;
      if (made.ok()) {
        o.code = ENOMEM;
        o.error = "out of memory";
      } else {
        const ScaleOverflow& f = made.error();
        o.code = EINVAL;
        o.error = "row " + std::to_string(f.row) + ": the result " + f.value.text().str() +
                  " does not fit decimal128(38, " + std::to_string(f.scale) +
                  "), the type of this output; pass scale= to fix another type";
      }
      return o.code;
    }
    o.error = status_text(status);
    o.code = status.kind == StreamStatus::Kind::OutOfMemory ? ENOMEM : EIO;
    if (status.kind == StreamStatus::Kind::Interrupted ||
        (status.kind == StreamStatus::Kind::InputFailed && status.message.find("KeyboardInterrupt") != std::string::npos)) {
      o.error = "interrupted (KeyboardInterrupt)";
      PyErr_SetInterrupt();  // the signal taken by the check is delivered again to the program
    }
  } catch (const std::bad_alloc&) {
    o.code = ENOMEM;
    o.error = "out of memory";
  }
  return o.code;
}

const char* output_last_error(ArrowArrayStream* stream) { return output_of(stream).error.c_str(); }

void output_release(ArrowArrayStream* stream) {
  auto* o = &output_of(stream);
  {
    Unlocked unlocked;
    if (o->reading) o->shared->table->close();  // a consumer that stops early stops the reading
    o->shared.reset();
  }
  delete o;
  stream->release = nullptr;
}

// The stream evaluate_stream returns.
struct SourceObject {
  PyObject_HEAD
  std::shared_ptr<OutputShared> shared;
};

void source_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<SourceObject*>(self)->shared.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* source_types(PyObject* self, PyObject*) {
  const TableStream& table = *reinterpret_cast<SourceObject*>(self)->shared->table;
  Ref dict(PyDict_New());
  if (dict == nullptr) return nullptr;
  for (const OutputProgram& out : table.plan().outputs) {
    for (size_t j = 0; j < out.vars.size(); ++j) {
      if (out.child[j] < 0) continue;
      const std::string name = out.vars[j].display();
      const std::string type = arrow_type_text(*table.schema().children[out.child[j]]);
      Ref value(PyUnicode_DecodeUTF8(type.data(), static_cast<Py_ssize_t>(type.size()), "backslashreplace"));
      if (value == nullptr || PyDict_SetItemString(dict.get(), name.c_str(), value.get()) < 0) return nullptr;
    }
  }
  return dict.release();
}

// export(scales): an Arrow stream capsule. Any number may be made; one reads.
PyObject* source_export(PyObject* self, PyObject* scales) {
  const std::shared_ptr<OutputShared>& shared = reinterpret_cast<SourceObject*>(self)->shared;
  if (shared->started.load()) {
    return raise(PyExc_RuntimeError, "this stream was already read: the result of evaluate_stream can be read once");
  }
  Ref items(PySequence_Tuple(scales));
  if (items == nullptr) return nullptr;
  if (static_cast<size_t>(PyTuple_GET_SIZE(items.get())) != shared->names.size()) {
    return raise(PyExc_ValueError, "one scale per output is needed");
  }
  std::vector<int32_t> fixed;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
    const long v = PyLong_AsLong(PyTuple_GET_ITEM(items.get(), i));
    if (v == -1 && PyErr_Occurred()) return nullptr;
    if (v < 0 || v > RESULT_PRECISION) return raise(PyExc_ValueError, "scale must be between 0 and 38");
    fixed.push_back(static_cast<int32_t>(v));
  }
  if (shared->scales.empty()) {  // fixed by the first export
    shared->scales = fixed;
    for (int32_t v : fixed) shared->types.push_back(ExportType{false, v});
  } else if (shared->scales != fixed) {
    return raise(PyExc_ValueError, "the output types of this stream are already fixed");
  }
  auto* stream = new ArrowArrayStream{};
  auto* o = new OutputStream{shared, false, {}, 0};
  *stream = ArrowArrayStream{output_get_schema, output_get_next, output_last_error, output_release, o};
  return stream_capsule(stream);
}

PyMethodDef SOURCE_METHODS[] = {
    {"types", source_types, METH_NOARGS,
     "types($self)\n--\n\nThe Arrow type of each column read, by variable."},
    {"export", source_export, METH_O, "export($self, scales, /)\n--\n\nThe Arrow stream capsule (once)."},
    {nullptr, nullptr, 0, nullptr}};

PyType_Slot SOURCE_SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(source_dealloc)},
    {Py_tp_methods, SOURCE_METHODS},
    {Py_tp_doc, const_cast<char*>("An input stream bound to its expressions, not yet read.")},
    {0, nullptr}};

PyType_Spec SOURCE_SPEC = {"py_vexlor._columnar.PendingStream", sizeof(SourceObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                           SOURCE_SLOTS};

}  // namespace

PyObject* evaluate(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  Call call;
  if (!read_call(module, args, nargs, call)) return nullptr;
  const int arrow = is_arrow_table(args[1]);
  if (arrow < 0) return nullptr;
  return arrow ? evaluate_table(module, args[1], call) : evaluate_mapping(module, args[1], call);
}

PyObject* open_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  Call call;
  if (!read_call(module, args, nargs, call)) return nullptr;
  const int arrow = is_arrow_table(args[1]);
  if (arrow < 0) return nullptr;
  if (!arrow) return raise(PyExc_TypeError, "evaluate_stream reads a table exporting the Arrow PyCapsule interface");
  auto shared = std::make_shared<OutputShared>();
  for (const auto& out : call.plan.outputs) shared->names.push_back(out.name);
  shared->table = open_checked(args[1], call, call.options.threads);
  if (shared->table == nullptr) return nullptr;
  shared->table->set_poll(poll_signals, &shared->interrupt);
  PyTypeObject* type = state_of(module)->source_type;
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;  // `shared` closes the input
  new (&reinterpret_cast<SourceObject*>(obj)->shared) std::shared_ptr<OutputShared>(std::move(shared));
  return obj;
}

PyObject* table_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) return raise(PyExc_TypeError, "table_stream(kept, results)");
  std::shared_ptr<const KeptColumns> kept;
  if (args[0] != Py_None) {
    auto* held = static_cast<std::shared_ptr<const KeptColumns>*>(PyCapsule_GetPointer(args[0], "py_vexlor.kept"));
    if (held == nullptr) return nullptr;
    kept = *held;
  }
  Ref results(PySequence_Tuple(args[1]));
  if (results == nullptr) return nullptr;
  std::vector<std::shared_ptr<const Exported>> exports;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(results.get()); ++i) {
    const auto* column = result_column(module, PyTuple_GET_ITEM(results.get(), i));
    if (column == nullptr) return raise(PyExc_TypeError, "results must be ColumnResult objects");
    auto exported = prepare_export(*column, ExportType{false, (*column)->scale()});
    if (!exported.ok()) {
      raise_scale_overflow(exported.error(), true);
      return nullptr;
    }
    if (*exported == nullptr) return PyErr_NoMemory();
    exports.push_back(*exported);
  }
  auto* stream = new ArrowArrayStream{};
  if (!export_table_stream(kept, std::move(exports), stream)) {
    delete stream;
    return PyErr_NoMemory();
  }
  return stream_capsule(stream);
}

PyTypeObject* make_source_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &SOURCE_SPEC, nullptr));
}

void remember_main_thread() {
  Ref threading(PyImport_ImportModule("threading"));
  Ref thread(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
  Ref ident(thread ? PyObject_GetAttrString(thread.get(), "ident") : nullptr);
  if (ident != nullptr) main_thread = PyLong_AsUnsignedLong(ident.get());
  PyErr_Clear();
}

}  // namespace vexlor::columnar::py
