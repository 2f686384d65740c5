// Reading the caller's data: Arrow streams and arrays through their capsules,
// mappings of columns, and plain sequences of Python values.

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

#include "columnar/read.hpp"
#include "columnar/stream.hpp"
#include "columnar/table.hpp"
#include "columnar_py/glue.hpp"

namespace vexlor::columnar::py {

bool fail(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  return false;
}

namespace {

std::string type_of(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

// view_array's error: an unsupported type is a TypeError, anything else malformed input.
bool fail_view(const std::string& where, const std::string& message) {
  const bool unsupported = message.find("unsupported type ") != std::string::npos;
  return fail(unsupported ? PyExc_TypeError : PyExc_ValueError, where + message);
}

bool has_attr(PyObject* obj, const char* name) {
  PyObject* attr = PyObject_GetAttrString(obj, name);
  if (attr == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return false;
  }
  Py_DECREF(attr);
  return true;
}

// Moves the struct out of a capsule (marking the capsule's copy released).
template <class T>
bool take_capsule(PyObject* capsule, const char* name, std::vector<std::unique_ptr<T>>& into, T*& out) {
  if (!PyCapsule_IsValid(capsule, name)) {
    return fail(PyExc_TypeError, std::string("expected a PyCapsule named '") + name + "', got '" + type_of(capsule) +
                                     "'" + (PyCapsule_CheckExact(capsule) ? " with another name" : ""));
  }
  auto* in = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (in == nullptr || in->release == nullptr) {
    return fail(PyExc_ValueError, std::string("capsule '") + name + "' holds a released struct");
  }
  into.push_back(std::make_unique<T>(*in));
  in->release = nullptr;
  out = into.back().get();
  return true;
}

Ref call_export(PyObject* obj, const char* method) {
  Ref name(PyUnicode_FromString(method));
  if (name == nullptr) return nullptr;
  return Ref(PyObject_CallMethodNoArgs(obj, name.get()));
}

// obj.__arrow_c_array__(): its schema and array.
bool export_array(PyObject* obj, Holdings& h, ArrowSchema*& schema, ArrowArray*& array) {
  Ref pair = call_export(obj, "__arrow_c_array__");
  if (pair == nullptr) return false;
  if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
    return fail(PyExc_TypeError,
                "__arrow_c_array__ must return a tuple of two capsules, got '" + type_of(pair.get()) + "'");
  }
  return take_capsule(PyTuple_GET_ITEM(pair.get(), 0), "arrow_schema", h.schemas, schema) &&
         take_capsule(PyTuple_GET_ITEM(pair.get(), 1), "arrow_array", h.arrays, array);
}

bool stream_failed(ArrowArrayStream* stream, int code, const char* what) {
  if (PyErr_Occurred()) return false;
  const char* text = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
  return fail(code == ENOMEM ? PyExc_MemoryError : PyExc_ValueError, std::string("Arrow stream failed to give its ") + what + " (error " +
                                    std::to_string(code) + (text != nullptr ? "): " + escaped_text(text) : ")"));
}

// obj.__arrow_c_stream__(): its schema and every array it gives.
bool export_stream(PyObject* obj, Holdings& h, ArrowSchema*& schema, std::vector<ArrowArray*>& arrays) {
  ArrowArrayStream* stream = nullptr;
  {
    Ref capsule = call_export(obj, "__arrow_c_stream__");
    if (capsule == nullptr || !take_capsule(capsule.get(), "arrow_array_stream", h.streams, stream)) return false;
  }
  if (stream->get_schema == nullptr || stream->get_next == nullptr) {
    return fail(PyExc_ValueError, "Arrow stream without its callbacks");
  }
  h.schemas.push_back(std::make_unique<ArrowSchema>());
  schema = h.schemas.back().get();
  std::memset(schema, 0, sizeof *schema);
  if (const int rc = stream->get_schema(stream, schema); rc != 0) return stream_failed(stream, rc, "schema");
  if (schema->release == nullptr) return fail(PyExc_ValueError, "Arrow stream gave a released schema");
  for (;;) {
    if (PyErr_CheckSignals() < 0) return false;  // a long stream can be interrupted
    h.arrays.push_back(std::make_unique<ArrowArray>());
    ArrowArray* array = h.arrays.back().get();
    std::memset(array, 0, sizeof *array);
    if (const int rc = stream->get_next(stream, array); rc != 0) return stream_failed(stream, rc, "next array");
    if (array->release == nullptr) return true;
    arrays.push_back(array);
  }
}

bool too_many_rows(const std::string& what) {
  return fail(PyExc_ValueError, what + "more than " + std::to_string(MAX_ROWS) + " rows");
}

bool uuid_key(PyObject* key, UuidBytes& out) {
  Ref module(PyImport_ImportModule("uuid"));
  if (module == nullptr) return false;
  Ref cls(PyObject_GetAttrString(module.get(), "UUID"));
  if (cls == nullptr || PyObject_IsInstance(key, cls.get()) <= 0) return false;
  Ref value(PyObject_GetAttrString(key, "int"));
  if (value == nullptr) return false;
  Ref bytes(PyObject_CallMethod(value.get(), "to_bytes", "is", 16, "big"));
  if (bytes == nullptr || !PyBytes_Check(bytes.get()) || PyBytes_GET_SIZE(bytes.get()) != 16) return false;
  std::memcpy(out.data(), PyBytes_AS_STRING(bytes.get()), 16);
  return true;
}

bool read_key(PyObject* key, VarId& out) {
  if (PyUnicode_Check(key)) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(key, &size)) {
      out = column_key(std::string_view(text, static_cast<size_t>(size)));
      return true;
    }
    if (must_propagate()) return false;
    PyErr_Clear();
    return fail(PyExc_TypeError, "Variable keys must be UUID or str");
  }
  UuidBytes bytes;
  if (uuid_key(key, bytes)) {
    out = VarId::uuid(bytes);
    return true;
  }
  if (PyErr_Occurred()) {
    if (must_propagate()) return false;
    PyErr_Clear();
  }
  return fail(PyExc_TypeError, "Variable keys must be UUID or str");
}

// A failed attempt: its error is dropped unless it must reach the caller.
bool drop_error() {
  if (must_propagate()) return false;
  PyErr_Clear();
  return true;
}

// One value by the rules for variable values: 0 a value, 1 null (None), 2 a
// conversion error (in `error`), -1 an error that must be raised at once.
int convert(PyObject* v, const std::string& key, Decimal& out, RowError& error) {
  if (v == Py_None) return 1;
  if (PyIndex_Check(v)) {
    const long long n = PyLong_AsLongLong(v);
    if (n != -1 || !PyErr_Occurred()) {
      out = Decimal::new_(n, 0);
      return 0;
    }
    if (!drop_error()) return -1;
  }
  if (Ref text{PyObject_Str(v)}) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 != nullptr && decimal_from_text(std::string_view(utf8, static_cast<size_t>(size)), out)) return 0;
    if (PyErr_Occurred() && !drop_error()) return -1;
  } else if (!drop_error()) {
    return -1;
  }
  error.kind = RowError::Kind::Value;
  const double d = PyFloat_AsDouble(v);
  if (d != -1.0 || !PyErr_Occurred()) {
    if (auto value = Decimal::from_f64(d)) {
      out = *value;
      return 0;
    }
    error.message = "Invalid float value for key '" + key + "': not finite";
    return 2;
  }
  if (!drop_error()) return -1;
  if (PyUnicode_Check(v)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(v, &size);
    if (utf8 != nullptr) {
      const auto parsed = Decimal::from_str(std::string_view(utf8, static_cast<size_t>(size)));
      error.message = "Invalid numeric string for key '" + key + "': " +
                      (parsed.ok() ? std::string() : parsed.error().to_string());
      return 2;
    }
    if (!drop_error()) return -1;  // text that UTF-8 cannot encode: an unsupported value
  }
  error.kind = RowError::Kind::Type;
  error.message = "Unsupported value type for key '" + key + "': expected Decimal, int, float or str";
  return 2;
}

bool read_sequence(PyObject* obj, Column& column, Holdings& h) {
  // A tuple of our own: nothing a conversion runs can change it, and it holds
  // every value while it is read.
  Ref values(PySequence_Tuple(obj));
  if (values == nullptr) return false;
  auto prepared = std::make_unique<PreparedValues>();
  const Py_ssize_t n = PyTuple_GET_SIZE(values.get());
  prepared->values.resize(static_cast<size_t>(n));
  prepared->state.resize(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    RowError error;
    const int state = convert(PyTuple_GET_ITEM(values.get(), i), column.key, prepared->values[static_cast<size_t>(i)],
                              error);
    if (state < 0) return false;
    prepared->state[static_cast<size_t>(i)] = static_cast<uint8_t>(state);
    if (state == 2) prepared->errors.emplace_back(i, std::move(error));
  }
  values.reset();
  ArrayView view;
  view.type = ValueType::Prepared;
  view.length = n;
  view.prepared = prepared.get();
  h.prepared.push_back(std::move(prepared));
  column.append(std::move(view));
  return true;
}

// One column of a mapping: an Arrow array, an Arrow stream or a sequence.
bool read_column(PyObject* obj, Column& column, Holdings& h) {
  const std::string where = "column '" + column.key + "': ";
  if (has_attr(obj, "__arrow_c_array__")) {
    ArrowSchema* schema = nullptr;
    ArrowArray* array = nullptr;
    if (!export_array(obj, h, schema, array)) return false;
    auto view = view_array(*schema, *array, 0, array->length);
    if (!view.ok()) return fail_view(where, view.error());
    column.append(std::move(*view));  // one array: its length was checked
    return true;
  }
  if (PyErr_Occurred()) return false;
  if (has_attr(obj, "__arrow_c_stream__")) {
    ArrowSchema* schema = nullptr;
    std::vector<ArrowArray*> arrays;
    if (!export_stream(obj, h, schema, arrays)) return false;
    for (ArrowArray* array : arrays) {
      auto view = view_array(*schema, *array, 0, array->length);
      if (!view.ok()) return fail_view(where, view.error());
      if (!column.can_take(view->length)) return too_many_rows(where);
      column.append(std::move(*view));
    }
    return true;
  }
  if (PyErr_Occurred()) return false;
  if (PySequence_Check(obj) && !PyUnicode_Check(obj) && !PyBytes_Check(obj) && !PyByteArray_Check(obj)) {
    return read_sequence(obj, column, h);
  }
  return fail(PyExc_TypeError, where + "expected an Arrow array or stream, or a sequence of values, got '" +
                                   type_of(obj) + "'");
}

}  // namespace

bool read_mapping(PyObject* data, const std::vector<VarId>& vars, std::vector<Column>& columns, int64_t& rows,
                  Holdings& h, std::vector<VarId>& names) {
  // The pairs in a tuple of our own (items() may return a list that its mapping
  // keeps and changes), and a reference to each column read: a conversion, a key's
  // class or an export may run code that empties the mapping.
  Ref items;
  if (Ref listed{PyMapping_Items(data)}) items.reset(PySequence_Tuple(listed.get()));
  if (items == nullptr) return false;
  std::vector<Ref> sources(vars.size());
  const Py_ssize_t n = PyTuple_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyTuple_GET_ITEM(items.get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
      return fail(PyExc_TypeError, "mapping items must be (key, column) pairs");
    }
    VarId key;
    if (!read_key(PyTuple_GET_ITEM(item, 0), key)) return false;
    names.push_back(key);
    for (size_t j = 0; j < vars.size(); ++j) {
      if (vars[j] == key) sources[j].reset(Py_NewRef(PyTuple_GET_ITEM(item, 1)));
    }
  }
  for (size_t j = 0; j < vars.size(); ++j) {
    if (sources[j] == nullptr) return fail(PyExc_RuntimeError, "Variable not found: " + columns[j].key);
  }
  for (size_t j = 0; j < vars.size(); ++j) {
    if (!read_column(sources[j].get(), columns[j], h)) return false;
  }
  if (vars.empty()) {
    if (n == 0) return fail(PyExc_ValueError, "data has no columns: the number of rows is unknown");
    Ref source(Py_NewRef(PyTuple_GET_ITEM(PyTuple_GET_ITEM(items.get(), 0), 1)));
    Column first;
    first.key = "?";
    if (!read_column(source.get(), first, h)) return false;
    rows = first.length;
    return true;
  }
  rows = columns[0].length;
  for (size_t j = 1; j < columns.size(); ++j) {
    if (columns[j].length != rows) {
      return fail(PyExc_ValueError, "columns have different lengths: '" + columns[0].key + "' has " +
                                        std::to_string(rows) + " rows, '" + columns[j].key + "' has " +
                                        std::to_string(columns[j].length));
    }
  }
  return true;
}

bool must_propagate() {
  return PyErr_ExceptionMatches(PyExc_MemoryError) || !PyErr_ExceptionMatches(PyExc_Exception);
}

// Release callbacks may run Python code (a producer dropping its objects): the
// error of the call, if any, is put aside meanwhile.
Holdings::~Holdings() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  for (auto& a : arrays) {
    if (a->release != nullptr) a->release(a.get());
  }
  for (auto& s : schemas) {
    if (s->release != nullptr) s->release(s.get());
  }
  for (auto& s : streams) {
    if (s->release != nullptr) s->release(s.get());
  }
  PyErr_Restore(type, value, traceback);
}

int is_arrow_table(PyObject* data) {
  if (has_attr(data, "__arrow_c_stream__") || has_attr(data, "__arrow_c_array__")) return 1;
  if (PyErr_Occurred()) return -1;
  if (PyDict_Check(data) || (PyMapping_Check(data) && has_attr(data, "items"))) return 0;
  if (PyErr_Occurred()) return -1;
  return fail(PyExc_TypeError,
              "data must export the Arrow PyCapsule interface (__arrow_c_stream__ or __arrow_c_array__) or be a "
              "mapping of variable names to columns, got '" + type_of(data) + "'") ? 0 : -1;
}

bool open_table(PyObject* data, ArrowArrayStream& stream, ArrowSchema& schema, bool& single) {
  Holdings h;
  single = false;
  if (has_attr(data, "__arrow_c_stream__")) {
    ArrowArrayStream* taken = nullptr;
    {
      Ref capsule = call_export(data, "__arrow_c_stream__");
      if (capsule == nullptr || !take_capsule(capsule.get(), "arrow_array_stream", h.streams, taken)) return false;
    }
    if (taken->get_schema == nullptr || taken->get_next == nullptr) {
      return fail(PyExc_ValueError, "Arrow stream without its callbacks");
    }
    std::memset(&schema, 0, sizeof schema);
    if (const int rc = taken->get_schema(taken, &schema); rc != 0) return stream_failed(taken, rc, "schema");
    if (schema.release == nullptr) return fail(PyExc_ValueError, "Arrow stream gave a released schema");
    stream = *taken;
    taken->release = nullptr;
    return true;
  }
  if (PyErr_Occurred()) return false;
  ArrowSchema* s = nullptr;
  ArrowArray* a = nullptr;
  if (!export_array(data, h, s, a)) return false;
  single_batch_stream(*a, &stream);
  single = true;
  schema = *s;
  s->release = nullptr;
  return true;
}

bool read_shared(PyObject* vars, std::vector<SharedValue>& out) {
  if (vars == Py_None) return true;
  if (!PyDict_Check(vars)) {
    return fail(PyExc_TypeError, "argument 'vars': '" + type_of(vars) + "' object is not an instance of 'dict'");
  }
  Ref items(PyDict_Items(vars));
  if (items == nullptr) return false;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    VarId key;
    if (!read_key(PyTuple_GET_ITEM(item, 0), key)) return false;
    Decimal value;
    RowError error;
    const int state = convert(PyTuple_GET_ITEM(item, 1), key.display(), value, error);
    if (state < 0) return false;
    if (state == 1) {
      error.kind = RowError::Kind::Type;
      error.message = "Unsupported value type for key '" + key.display() + "': expected Decimal, int, float or str";
    }
    if (state != 0) return fail(error.kind == RowError::Kind::Type ? PyExc_TypeError : PyExc_ValueError, error.message);
    auto same = std::find_if(out.begin(), out.end(), [&](const SharedValue& v) { return v.var == key; });
    if (same != out.end()) same->value = value;  // a later entry for the same variable wins
    else out.push_back({key, value});
  }
  return true;
}

}  // namespace vexlor::columnar::py
