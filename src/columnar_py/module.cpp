// py_vexlor._columnar: compiled programs over whole tables and streams.
//
//   evaluate(outputs, data, keep, vars, gas, errors_to_null, threads) -> ([ColumnResult], kept)
//   open_stream(outputs, data, keep, vars, gas, errors_to_null, threads) -> a pending stream
//   table_stream(kept, [ColumnResult]) -> an Arrow stream capsule
//
// Arguments are checked by the package functions that call these; the checks
// here only keep the module safe when it is called directly.

#include <cstring>
#include <string>

#include "columnar/read.hpp"
#include "columnar_py/glue.hpp"

namespace vexlor::columnar::py {
namespace {

struct ResultObject {
  PyObject_HEAD
  std::shared_ptr<const ResultColumn> column;
};

const ResultColumn& column_of(PyObject* self) { return *reinterpret_cast<ResultObject*>(self)->column; }
const std::shared_ptr<const ResultColumn>& shared_of(PyObject* self) {
  return reinterpret_cast<ResultObject*>(self)->column;
}

void result_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<ResultObject*>(self)->column.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

Ref decimal_class() {
  Ref module(PyImport_ImportModule("decimal"));
  if (module == nullptr) return nullptr;
  return Ref(PyObject_GetAttrString(module.get(), "Decimal"));
}

PyObject* decimal_of(PyObject* cls, const Decimal& value) {
  const DecimalText text = value.text();
  Ref str(PyUnicode_FromStringAndSize(text.data, text.size));
  if (str == nullptr) return nullptr;
  return PyObject_CallOneArg(cls, str.get());
}

PyObject* row_object(PyObject* cls, const ResultColumn& col, int64_t i) {
  return col.valid(i) ? decimal_of(cls, col.value(i)) : Py_NewRef(Py_None);
}

PyObject* result_to_pylist(PyObject* self, PyObject*) {
  const ResultColumn& col = column_of(self);
  Ref cls = decimal_class();
  if (cls == nullptr) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(col.length));
  for (int64_t i = 0; list != nullptr && i < col.length; ++i) {
    PyObject* item = row_object(cls.get(), col, i);
    if (item == nullptr) Py_CLEAR(list);
    else PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* result_item(PyObject* self, Py_ssize_t i) {
  const ResultColumn& col = column_of(self);
  if (i < 0 || i >= col.length) {
    PyErr_SetString(PyExc_IndexError, "ColumnResult index out of range");
    return nullptr;
  }
  Ref cls = decimal_class();
  return cls == nullptr ? nullptr : row_object(cls.get(), col, i);
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

template <class T>
PyObject* capsule_of(T* p, const char* name, PyCapsule_Destructor destructor) {
  PyObject* capsule = PyCapsule_New(p, name, destructor);
  if (capsule == nullptr) {
    p->release(p);
    delete p;
  }
  return capsule;
}

// The requested_schema argument (positional or keyword), or nullptr.
bool requested_arg(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* name, PyObject*& out) {
  const Py_ssize_t total = nargs + (kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0);
  if (total > 1) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most 1 argument (requested_schema)", name);
    return false;
  }
  out = total == 1 ? args[0] : nullptr;
  return true;
}

// The type the column is exported as: the requested one where it is a decimal128
// (of any scale) or utf8, else the column's own.
bool export_type(const ResultColumn& col, PyObject* requested, ExportType& type) {
  type = ExportType{false, col.scale()};
  if (requested == nullptr || requested == Py_None) return true;
  if (!PyCapsule_IsValid(requested, "arrow_schema")) {
    PyErr_SetString(PyExc_TypeError, "requested_schema must be a PyCapsule named 'arrow_schema'");
    return false;
  }
  const auto* schema = static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, "arrow_schema"));
  if (schema == nullptr || schema->release == nullptr || schema->format == nullptr) return true;
  const std::string_view format = schema->format;
  if (format == "u") {
    type.text = true;
    return true;
  }
  auto parsed = parse_format(format, nullptr);
  if (parsed.ok() && parsed->type == ValueType::Decimal && parsed->decimal_bytes == 16 && parsed->scale >= 0 &&
      parsed->scale <= RESULT_PRECISION) {
    type.scale = parsed->scale;
  }
  return true;
}

// The column's buffers for an export, or nullptr with the error set.
std::shared_ptr<const Exported> prepared(PyObject* self, PyObject* requested) {
  ExportType type;
  if (!export_type(column_of(self), requested, type)) return nullptr;
  auto exported = prepare_export(shared_of(self), type);
  if (!exported.ok()) {
    raise_scale_overflow(exported.error(), true);
    return nullptr;
  }
  if (*exported == nullptr) PyErr_NoMemory();
  return *exported;
}

PyObject* result_arrow_c_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* requested = nullptr;
  if (!requested_arg(args, nargs, kwnames, "__arrow_c_array__", requested)) return nullptr;
  auto exported = prepared(self, requested);
  if (exported == nullptr) return nullptr;
  auto* schema = new (std::nothrow) ArrowSchema{};
  auto* array = new (std::nothrow) ArrowArray{};
  if (schema == nullptr || array == nullptr || !export_field(exported->type, exported->column->name, schema)) {
    delete schema;
    delete array;
    return PyErr_NoMemory();
  }
  if (!export_rows(exported, 0, exported->column->length, array)) {
    schema->release(schema);
    delete schema;
    delete array;
    return PyErr_NoMemory();
  }
  Ref s(capsule_of(schema, "arrow_schema", release_schema_capsule));
  if (s == nullptr) {
    array->release(array);
    delete array;
    return nullptr;
  }
  Ref a(capsule_of(array, "arrow_array", release_array_capsule));
  if (a == nullptr) return nullptr;
  return PyTuple_Pack(2, s.get(), a.get());
}

PyObject* result_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* requested = nullptr;
  if (!requested_arg(args, nargs, kwnames, "__arrow_c_stream__", requested)) return nullptr;
  auto exported = prepared(self, requested);
  if (exported == nullptr) return nullptr;
  auto* stream = new (std::nothrow) ArrowArrayStream{};
  if (stream == nullptr || !export_single_stream(exported, stream)) {
    delete stream;
    return PyErr_NoMemory();
  }
  return stream_capsule(stream);
}

PyObject* result_to_pandas(PyObject* self, PyObject*) {
  Ref columns(PyImport_ImportModule("py_vexlor._columns"));
  if (columns == nullptr) return nullptr;
  return PyObject_CallMethod(columns.get(), "_to_pandas", "O", self);
}

PyObject* result_reduce(PyObject* self, PyObject*) {
  const ResultColumn& col = column_of(self);
  Ref module(PyImport_ImportModule("py_vexlor._columnar"));
  if (module == nullptr) return nullptr;
  Ref rebuild(PyObject_GetAttrString(module.get(), "_rebuild"));
  Ref values(result_to_pylist(self, nullptr));
  if (rebuild == nullptr || values == nullptr) return nullptr;
  Ref scale(col.fixed_scale ? PyLong_FromLong(*col.fixed_scale) : Py_NewRef(Py_None));
  if (scale == nullptr) return nullptr;
  return Py_BuildValue("(O(s#OO))", rebuild.get(), col.name.data(), static_cast<Py_ssize_t>(col.name.size()),
                       scale.get(), values.get());
}

Py_ssize_t result_length(PyObject* self) { return static_cast<Py_ssize_t>(column_of(self).length); }

PyObject* result_repr(PyObject* self) {
  const ResultColumn& col = column_of(self);
  return PyUnicode_FromFormat("<ColumnResult '%s' decimal128(38, %d), %lld rows, %lld null>", col.name.c_str(),
                              col.scale(), static_cast<long long>(col.length),
                              static_cast<long long>(col.null_count));
}

PyObject* result_scale(PyObject* self, void*) { return PyLong_FromLong(column_of(self).scale()); }
PyObject* result_null_count(PyObject* self, void*) { return PyLong_FromLongLong(column_of(self).null_count); }
PyObject* result_name(PyObject* self, void*) {
  const std::string& name = column_of(self).name;
  return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace");
}
PyObject* result_type_name(PyObject* self, void*) {
  return PyUnicode_FromFormat("decimal128(38, %d)", column_of(self).scale());
}

#define FASTCALL_KW(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)), METH_FASTCALL | METH_KEYWORDS

PyMethodDef RESULT_METHODS[] = {
    {"to_pylist", result_to_pylist, METH_NOARGS,
     "to_pylist($self)\n--\n\nThe values as decimal.Decimal (each with its own scale, as evaluate gives it), None "
     "for nulls."},
    {"to_pandas", result_to_pandas, METH_NOARGS,
     "to_pandas($self)\n--\n\nA pandas Series of this column, Arrow-backed decimal128(38, scale), named as the "
     "column (needs pandas and pyarrow)."},
    {"__reduce__", result_reduce, METH_NOARGS, "__reduce__($self)\n--\n\nPickling support."},
    {"__arrow_c_array__", FASTCALL_KW(result_arrow_c_array),
     "__arrow_c_array__($self, requested_schema=None)\n--\n\nThe column as Arrow schema and array capsules: "
     "decimal128(38, scale), or the decimal128 scale or utf8 text asked for."},
    {"__arrow_c_stream__", FASTCALL_KW(result_arrow_c_stream),
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\nThe column as an Arrow stream capsule of one array."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef RESULT_GETSET[] = {
    {"name", result_name, nullptr, "The name of the column ('result', or its output's name).", nullptr},
    {"scale", result_scale, nullptr,
     "The scale S of the decimal128(38, S) export: the one asked for, else the largest scale of the values.",
     nullptr},
    {"null_count", result_null_count, nullptr, "The number of null rows.", nullptr},
    {"type", result_type_name, nullptr, "The Arrow type of the export, e.g. 'decimal128(38, 2)'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot RESULT_SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_methods, RESULT_METHODS},
    {Py_tp_getset, RESULT_GETSET},
    {Py_sq_length, reinterpret_cast<void*>(result_length)},
    {Py_sq_item, reinterpret_cast<void*>(result_item)},
    {Py_tp_iter, reinterpret_cast<void*>(PySeqIter_New)},
    {Py_tp_doc, const_cast<char*>("A result column of evaluate_columns: each row's exact value, exported as "
                                  "decimal128(38, scale).")},
    {0, nullptr}};

PyType_Spec RESULT_SPEC = {"py_vexlor.ColumnResult", sizeof(ResultObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                           RESULT_SLOTS};

// _rebuild(name, scale, values): the column pickled by __reduce__.
PyObject* rebuild_impl(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3 || !PyUnicode_Check(args[0]) || !PyList_Check(args[2])) {
    PyErr_SetString(PyExc_TypeError, "_rebuild(name, scale, values)");
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* name = PyUnicode_AsUTF8AndSize(args[0], &size);
  if (name == nullptr) return nullptr;
  std::optional<int32_t> scale;
  if (args[1] != Py_None) {
    const long s = PyLong_AsLong(args[1]);
    if (s == -1 && PyErr_Occurred()) return nullptr;
    if (s < 0 || s > RESULT_PRECISION) return PyErr_Format(PyExc_ValueError, "scale out of range");
    scale = static_cast<int32_t>(s);
  }
  Ref values(PySequence_Tuple(args[2]));
  if (values == nullptr) return nullptr;
  const Py_ssize_t n = PyTuple_GET_SIZE(values.get());
  RunResult run;
  run.length = n;
  run.rows.scale.resize(static_cast<size_t>(n));
  run.rows.valid.resize(static_cast<size_t>(n));
  if (!run.rows.data.allocate(16 * static_cast<size_t>(n))) return PyErr_NoMemory();
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* v = PyTuple_GET_ITEM(values.get(), i);
    run.rows.valid[static_cast<size_t>(i)] = v != Py_None;
    if (v == Py_None) {
      ++run.null_count;
      continue;
    }
    Ref text(PyObject_Str(v));
    const char* utf8 = text != nullptr ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (utf8 == nullptr) return nullptr;
    Decimal d;
    if (!decimal_from_text(std::string_view(utf8, static_cast<size_t>(size)), d)) {
      return PyErr_Format(PyExc_ValueError, "not a decimal value: %R", v);
    }
    run.rows.store(i, d);
    const auto s = static_cast<uint8_t>(d.scale());
    run.least_scale = std::min(run.least_scale, s);
    run.most_scale = std::max(run.most_scale, s);
  }
  bool out_of_memory = false;
  std::vector<RunResult> runs;
  runs.push_back(std::move(run));
  auto made = make_result(std::move(runs), scale, out_of_memory);
  if (out_of_memory) return PyErr_NoMemory();
  if (!made.ok()) {
    raise_scale_overflow(made.error(), false);
    return nullptr;
  }
  made->name = name;
  return new_result(module, std::make_shared<const ResultColumn>(std::move(*made)));
}

template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t)>
PyObject* guarded(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  try {
    return F(module, args, nargs);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  }
}

#define FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<f>)), METH_FASTCALL

PyMethodDef MODULE_METHODS[] = {
    {"evaluate", FASTCALL(evaluate),
     "evaluate(outputs, data, keep, vars, gas, errors_to_null, threads, /)\n--\n\nThe engine of "
     "py_vexlor.evaluate_columns; call that instead."},
    {"open_stream", FASTCALL(open_stream),
     "open_stream(outputs, data, keep, vars, gas, errors_to_null, threads, /)\n--\n\nThe engine of "
     "py_vexlor.evaluate_stream; call that instead."},
    {"table_stream", FASTCALL(table_stream),
     "table_stream(kept, results, /)\n--\n\nThe Arrow stream of a TableResult."},
    {"_rebuild", FASTCALL(rebuild_impl), "_rebuild(name, scale, values, /)\n--\n\nUnpickles a ColumnResult."},
    {nullptr, nullptr, 0, nullptr}};

int exec_module(PyObject* module) {
  // Its errors are the classes of py_vexlor._lib, which only the main interpreter
  // may load: so may this module.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "py_vexlor._columnar does not support sub-interpreters");
    return -1;
  }
  remember_main_thread();
  if (find_compiled_type(state_of(module)) < 0) return -1;
  PyObject* type = PyType_FromModuleAndSpec(module, &RESULT_SPEC, nullptr);
  if (type == nullptr) return -1;
  state_of(module)->result_type = reinterpret_cast<PyTypeObject*>(type);
  if (PyModule_AddObjectRef(module, "ColumnResult", type) < 0) return -1;
  PyTypeObject* source = make_source_type(module);
  if (source == nullptr) return -1;
  state_of(module)->source_type = source;
  return PyModule_AddObjectRef(module, "PendingStream", reinterpret_cast<PyObject*>(source));
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = state_of(module);
  if (state != nullptr) {
    Py_VISIT(state->result_type);
    Py_VISIT(state->source_type);
    Py_VISIT(state->compiled_type);
  }
  return 0;
}

int clear_module(PyObject* module) {
  ModuleState* state = state_of(module);
  if (state != nullptr) {
    Py_CLEAR(state->result_type);
    Py_CLEAR(state->source_type);
    Py_CLEAR(state->compiled_type);
  }
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

PyObject* new_result(PyObject* module, std::shared_ptr<const ResultColumn> column) {
  PyTypeObject* type = state_of(module)->result_type;
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<ResultObject*>(obj)->column) std::shared_ptr<const ResultColumn>(std::move(column));
  return obj;
}

const std::shared_ptr<const ResultColumn>* result_column(PyObject* module, PyObject* obj) {
  if (!PyObject_TypeCheck(obj, state_of(module)->result_type)) return nullptr;
  return &shared_of(obj);
}

PyObject* stream_capsule(ArrowArrayStream* stream) {
  return capsule_of(stream, "arrow_array_stream", release_stream_capsule);
}

// --- errors -----------------------------------------------------------------

namespace {

PyObject* gas_exhausted_error() {
  Ref lib(PyImport_ImportModule("py_vexlor._lib"));
  if (lib == nullptr) return nullptr;
  return PyObject_GetAttrString(lib.get(), "GasExhaustedError");
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
      Ref type(gas_exhausted_error());
      if (type == nullptr) return;
      PyErr_SetString(type.get(), vm.to_string().c_str());
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

}  // namespace

void raise_row_error(const RowError& e, int64_t row) {
  set_row_error(e);
  if (PyErr_Occurred()) add_note("raised by row " + std::to_string(row) + " (rows counted from 0)");
}

void raise_scale_overflow(const ScaleOverflow& o, bool at_export) {
  const std::string text = o.value.text().str();
  PyErr_Format(PyExc_OverflowError,
               "the result %s of row %lld does not fit decimal128(38, %d): it has more than 38 digits at that "
               "scale; %s",
               text.c_str(), static_cast<long long>(o.row), o.scale,
               at_export ? "pass scale= to round the results to fewer places (or export them as utf8)"
                         : "pass a smaller scale= to round the results");
}

}  // namespace vexlor::columnar::py

PyMODINIT_FUNC PyInit__columnar() { return PyModuleDef_Init(&vexlor::columnar::py::MODULE_DEF); }
