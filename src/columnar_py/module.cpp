// py_vexlor._columnar: one compiled program over whole columns.
//
//   evaluate(program_json, data, gas, errors_to_null, scale, threads) -> ColumnResult
//
// Arguments are checked by the package function that calls this; the checks
// here only keep the module safe when it is called directly.

#include <algorithm>
#include <cstring>
#include <string>

#include "columnar/result.hpp"
#include "columnar_py/glue.hpp"
#include "columnar_py/interrupt.hpp"
#include "compiler/compiler.hpp"

namespace vexlor::columnar::py {
namespace {

struct ModuleState {
  PyTypeObject* result_type;
};

ModuleState* state_of(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

struct ResultObject {
  PyObject_HEAD
  std::shared_ptr<const ResultColumn> column;
};

const ResultColumn& column_of(PyObject* self) { return *reinterpret_cast<ResultObject*>(self)->column; }

void result_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<ResultObject*>(self)->column.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* decimal_of(PyObject* cls, const Decimal& value) {
  const DecimalText text = value.text();
  PyObject* str = PyUnicode_FromStringAndSize(text.data, text.size);
  if (str == nullptr) return nullptr;
  PyObject* result = PyObject_CallOneArg(cls, str);
  Py_DECREF(str);
  return result;
}

PyObject* result_to_pylist(PyObject* self, PyObject*) {
  const ResultColumn& col = column_of(self);
  PyObject* module = PyImport_ImportModule("decimal");
  if (module == nullptr) return nullptr;
  PyObject* cls = PyObject_GetAttrString(module, "Decimal");
  Py_DECREF(module);
  if (cls == nullptr) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(col.length));
  for (int64_t i = 0; list != nullptr && i < col.length; ++i) {
    PyObject* item = col.rows.valid[static_cast<size_t>(i)] ? decimal_of(cls, col.value(i)) : Py_NewRef(Py_None);
    if (item == nullptr) Py_CLEAR(list);
    else PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  Py_DECREF(cls);
  return list;
}

template <class T>
void capsule_release(PyObject* capsule, const char* name) {
  auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (p == nullptr) {
    PyErr_Clear();
    return;
  }
  if (p->release != nullptr) p->release(p);
  delete p;
}
void release_schema_capsule(PyObject* c) { capsule_release<ArrowSchema>(c, "arrow_schema"); }
void release_array_capsule(PyObject* c) { capsule_release<ArrowArray>(c, "arrow_array"); }
void release_stream_capsule(PyObject* c) { capsule_release<ArrowArrayStream>(c, "arrow_array_stream"); }

// A capsule owning the filled struct `p`; on failure the struct is released and freed.
template <class T>
PyObject* capsule_of(T* p, const char* name, PyCapsule_Destructor destructor) {
  PyObject* capsule = PyCapsule_New(p, name, destructor);
  if (capsule == nullptr) {
    p->release(p);
    delete p;
  }
  return capsule;
}

bool no_more_than_one_arg(Py_ssize_t nargs, PyObject* kwnames, const char* name) {
  const Py_ssize_t total = nargs + (kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0);
  if (total <= 1) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes at most 1 argument (requested_schema)", name);
  return false;
}

// The requested schema is a wish the exporter may leave unmet: the result is
// always decimal128(38, scale).
PyObject* result_arrow_c_array(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  if (!no_more_than_one_arg(nargs, kwnames, "__arrow_c_array__")) return nullptr;
  auto* schema = new (std::nothrow) ArrowSchema{};
  auto* array = new (std::nothrow) ArrowArray{};
  if (schema == nullptr || array == nullptr || !export_result(reinterpret_cast<ResultObject*>(self)->column, schema, array)) {
    delete schema;
    delete array;
    return PyErr_NoMemory();
  }
  PyObject* s = capsule_of(schema, "arrow_schema", release_schema_capsule);
  if (s == nullptr) {
    array->release(array);
    delete array;
    return nullptr;
  }
  PyObject* a = capsule_of(array, "arrow_array", release_array_capsule);
  if (a == nullptr) {
    Py_DECREF(s);
    return nullptr;
  }
  PyObject* pair = PyTuple_Pack(2, s, a);
  Py_DECREF(s);
  Py_DECREF(a);
  return pair;
}

PyObject* result_arrow_c_stream(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
  if (!no_more_than_one_arg(nargs, kwnames, "__arrow_c_stream__")) return nullptr;
  auto* stream = new (std::nothrow) ArrowArrayStream{};
  if (stream == nullptr || !export_result_stream(reinterpret_cast<ResultObject*>(self)->column, stream)) {
    delete stream;
    return PyErr_NoMemory();
  }
  return capsule_of(stream, "arrow_array_stream", release_stream_capsule);
}

Py_ssize_t result_length(PyObject* self) { return static_cast<Py_ssize_t>(column_of(self).length); }

PyObject* result_repr(PyObject* self) {
  const ResultColumn& col = column_of(self);
  return PyUnicode_FromFormat("<ColumnResult decimal128(38, %d), %lld rows, %lld null>", col.scale,
                              static_cast<long long>(col.length), static_cast<long long>(col.null_count));
}

PyObject* result_scale(PyObject* self, void*) { return PyLong_FromLong(column_of(self).scale); }
PyObject* result_null_count(PyObject* self, void*) { return PyLong_FromLongLong(column_of(self).null_count); }
PyObject* result_type_name(PyObject* self, void*) {
  return PyUnicode_FromFormat("decimal128(38, %d)", column_of(self).scale);
}

PyMethodDef RESULT_METHODS[] = {
    {"to_pylist", result_to_pylist, METH_NOARGS,
     "to_pylist($self)\n--\n\nThe values as decimal.Decimal (each with its own scale, as evaluate gives it), None "
     "for nulls."},
    {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(result_arrow_c_array)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\nThe column as Arrow schema and array capsules "
     "(decimal128(38, scale), sharing this result's buffers)."},
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(result_arrow_c_stream)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\nThe column as an Arrow stream capsule of one array."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef RESULT_GETSET[] = {
    {"scale", result_scale, nullptr, "The scale S of the decimal128(38, S) values.", nullptr},
    {"null_count", result_null_count, nullptr, "The number of null rows.", nullptr},
    {"type", result_type_name, nullptr, "The Arrow type, e.g. 'decimal128(38, 2)'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot RESULT_SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_methods, RESULT_METHODS},
    {Py_tp_getset, RESULT_GETSET},
    {Py_sq_length, reinterpret_cast<void*>(result_length)},
    {Py_mp_length, reinterpret_cast<void*>(result_length)},
    {Py_tp_doc, const_cast<char*>("The result of evaluate_columns: one decimal128(38, scale) column.")},
    {0, nullptr}};

PyType_Spec RESULT_SPEC = {"py_vexlor.ColumnResult", sizeof(ResultObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                           RESULT_SLOTS};

// --- errors -----------------------------------------------------------------

PyObject* gas_exhausted_error() {
  PyObject* lib = PyImport_ImportModule("py_vexlor._lib");
  if (lib == nullptr) return nullptr;
  PyObject* type = PyObject_GetAttrString(lib, "GasExhaustedError");
  Py_DECREF(lib);
  return type;
}

void set_row_error(const RowError& e) {
  if (e.kind == RowError::Kind::Value) {
    PyErr_SetString(PyExc_ValueError, e.message.c_str());
    return;
  }
  if (e.kind == RowError::Kind::Type) {
    PyErr_SetString(PyExc_TypeError, e.message.c_str());
    return;
  }
  const VmError& vm = *e.vm;
  switch (vm.kind()) {
    case VmError::Kind::DivisionByZero: PyErr_SetString(PyExc_ZeroDivisionError, "Division by zero"); return;
    case VmError::Kind::Overflow: PyErr_SetString(PyExc_OverflowError, vm.message().c_str()); return;
    case VmError::Kind::OutOfGas: {
      PyObject* type = gas_exhausted_error();
      if (type == nullptr) return;
      PyErr_SetString(type, vm.to_string().c_str());
      Py_DECREF(type);
      return;
    }
    default: PyErr_SetString(PyExc_RuntimeError, vm.to_string().c_str()); return;
  }
}

// Adds a note (PEP 678) to the exception being raised.
void add_note(const std::string& note) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    PyObject* result = PyObject_CallMethod(value, "add_note", "s", note.c_str());
    if (result == nullptr) PyErr_Clear();
    Py_XDECREF(result);
  }
  PyErr_Restore(type, value, traceback);
}

void raise_row_error(const RowError& e, int64_t row) {
  set_row_error(e);
  if (PyErr_Occurred()) add_note("raised by row " + std::to_string(row) + " (rows counted from 0)");
}

void raise_scale_overflow(const ScaleOverflow& o) {
  const std::string text = o.value.text().str();
  PyErr_Format(PyExc_OverflowError,
               "the result %s of row %lld does not fit decimal128(38, %d): it has more than 38 digits at that "
               "scale; pass a smaller scale= to round the results",
               text.c_str(), static_cast<long long>(o.row), o.scale);
}

// --- evaluate -------------------------------------------------------------

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

// The variables of a program, ordered by their display texts.
std::vector<VarId> variables_of(const Program& program) {
  std::vector<std::pair<std::string, VarId>> found;
  for (const OpCode& op : program) {
    if (op.kind() == OpKind::LoadVar) found.emplace_back(op.var().display(), op.var());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  found.erase(std::unique(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
              found.end());
  std::vector<VarId> vars;
  for (auto& f : found) vars.push_back(std::move(f.second));
  return vars;
}

PyObject* evaluate_impl(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 6) {
    PyErr_SetString(PyExc_TypeError, "evaluate() takes 6 positional arguments");
    return nullptr;
  }
  const int errors_to_null = PyObject_IsTrue(args[3]);  // may run code: before any view is taken
  if (errors_to_null < 0) return nullptr;
  Py_ssize_t json_size = 0;
  const char* json = PyUnicode_Check(args[0]) ? PyUnicode_AsUTF8AndSize(args[0], &json_size) : nullptr;
  if (json == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "program must be the JSON text of a program");
    return nullptr;
  }
  std::optional<int64_t> gas, scale, threads;
  if (!optional_i64(args[2], "gas", gas) || !optional_i64(args[4], "scale", scale) ||
      !optional_i64(args[5], "threads", threads)) {
    return nullptr;
  }
  if (gas && *gas < 0) {
    PyErr_SetString(PyExc_ValueError, "gas must be non-negative");
    return nullptr;
  }
  if (scale && (*scale < 0 || *scale > RESULT_PRECISION)) {
    PyErr_SetString(PyExc_ValueError, "scale must be between 0 and 38");
    return nullptr;
  }
  if (threads && *threads < 1) {
    PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
    return nullptr;
  }
  auto program = read_json(std::string_view(json, static_cast<size_t>(json_size)));
  if (!program.ok()) {
    PyErr_SetString(PyExc_ValueError, program.error().c_str());
    return nullptr;
  }
  const std::vector<VarId> vars = variables_of(*program);
  std::vector<Column> columns(vars.size());
  std::vector<BoundColumn> bound;
  for (size_t j = 0; j < vars.size(); ++j) columns[j].key = vars[j].display();
  int64_t rows = 0;
  Holdings holdings;
  if (!read_data(args[1], vars, columns, rows, holdings)) return nullptr;
  for (size_t j = 0; j < vars.size(); ++j) bound.push_back({vars[j], &columns[j]});

  RunOptions options;
  if (gas) options.gas = static_cast<uint64_t>(*gas);
  options.errors_to_null = errors_to_null != 0;
  options.threads = static_cast<unsigned>(std::min<int64_t>(threads.value_or(1), 1024));
  bool out_of_memory = false;
  std::optional<Expected<ResultColumn, ScaleOverflow>> made;
  std::optional<std::pair<int64_t, RowError>> failure;
  Interrupt interrupt;
  if (!interrupt.arm(options)) return nullptr;
  PyThreadState* released = PyEval_SaveThread();
  try {  // nothing may leave this block without the thread state restored
    RunResult run = run_columns(*program, bound, rows, options);
    out_of_memory = run.out_of_memory;
    if (run.failure && !options.errors_to_null) {
      failure = std::move(run.failure);
    } else if (!out_of_memory && !run.cancelled) {  // a cancelled run raises below
      made.emplace(make_result(std::move(run),
                               scale ? std::optional<int32_t>(static_cast<int32_t>(*scale)) : std::nullopt,
                               out_of_memory));
    }
  } catch (...) {
    out_of_memory = true;
  }
  PyEval_RestoreThread(released);
  if (interrupt.raise_if_interrupted()) return nullptr;
  if (out_of_memory) return PyErr_NoMemory();
  if (failure) {
    raise_row_error(failure->second, failure->first);
    return nullptr;
  }
  if (!made->ok()) {
    raise_scale_overflow(made->error());
    return nullptr;
  }
  auto column = std::make_shared<const ResultColumn>(std::move(**made));
  PyTypeObject* type = state_of(module)->result_type;
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<ResultObject*>(obj)->column) std::shared_ptr<const ResultColumn>(std::move(column));
  return obj;
}

PyObject* evaluate(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  try {
    return evaluate_impl(module, args, nargs);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  }
}

PyMethodDef MODULE_METHODS[] = {
    {"evaluate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(evaluate)), METH_FASTCALL,
     "evaluate(program_json, data, gas, errors_to_null, scale, threads, /)\n--\n\nThe engine of "
     "py_vexlor.evaluate_columns; call that instead."},
    {nullptr, nullptr, 0, nullptr}};

int exec_module(PyObject* module) {
  // Its errors are the classes of py_vexlor._lib, which only the main interpreter
  // may load: so may this module.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "py_vexlor._columnar does not support sub-interpreters");
    return -1;
  }
  PyObject* type = PyType_FromModuleAndSpec(module, &RESULT_SPEC, nullptr);
  if (type == nullptr) return -1;
  state_of(module)->result_type = reinterpret_cast<PyTypeObject*>(type);
  return PyModule_AddObjectRef(module, "ColumnResult", type);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = state_of(module);
  if (state != nullptr) Py_VISIT(state->result_type);
  return 0;
}

int clear_module(PyObject* module) {
  ModuleState* state = state_of(module);
  if (state != nullptr) Py_CLEAR(state->result_type);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot MODULE_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr}};

PyModuleDef MODULE_DEF = {PyModuleDef_HEAD_INIT, "py_vexlor._columnar",
                          "Columnar evaluation through the Arrow C data interface (see py_vexlor.evaluate_columns).",
                          sizeof(ModuleState), MODULE_METHODS, MODULE_SLOTS, traverse_module, clear_module,
                          free_module};

}  // namespace
}  // namespace vexlor::columnar::py

PyMODINIT_FUNC PyInit__columnar() { return PyModuleDef_Init(&vexlor::columnar::py::MODULE_DEF); }
