// Python `vars` dict -> evaluation context: keys to VarId, values to Decimal.

#include <array>

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

PyObject* uuid_class() {
  static ProcessWide cell;
  return imported_attribute(cell, "uuid", "UUID");
}

// The 16 bytes of a uuid.UUID's `int`, most significant first; false if anything fails.
bool uuid_object_bytes(PyObject* key, UuidBytes& out) {
  PyObject* cls = uuid_class();
  if (cls == nullptr) return false;
  if (!Py_IS_TYPE(key, reinterpret_cast<PyTypeObject*>(cls))) {
    const int is = PyObject_IsInstance(key, cls);
    if (is <= 0) return false;
  }
  PyObject* value = PyObject_GetAttrString(key, "int");
  if (value == nullptr) return false;
  bool ok = PyLong_Check(value);
  if (ok) {
#if PY_VERSION_HEX >= 0x030D0000
    const Py_ssize_t needed = PyLong_AsNativeBytes(
        value, out.data(), 16, Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER | Py_ASNATIVEBYTES_REJECT_NEGATIVE);
    ok = needed >= 0 && needed <= 16;
#else
    ok = _PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(value), out.data(), 16, 0, 0) == 0;
#endif
  }
  Py_DECREF(value);
  return ok;
}

// The UTF-8 text of a str: ASCII strings are read in place.
const char* str_text(PyObject* str, Py_ssize_t& size) {
  if (PyUnicode_IS_ASCII(str)) {
    size = PyUnicode_GET_LENGTH(str);
    return reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(str));
  }
  return PyUnicode_AsUTF8AndSize(str, &size);
}

// A key as read from Python: a UUID, or the text of a name (borrowed from the
// key's str, which the caller keeps alive).
struct Key {
  std::optional<UuidBytes> uuid;
  std::string_view name;
  VarId to_varid() const { return uuid ? VarId::uuid(*uuid) : VarId::name(name); }
};

bool read_key(PyObject* key, Key& out) {
  if (!PyUnicode_CheckExact(key)) {
    UuidBytes bytes;
    if (uuid_object_bytes(key, bytes)) {
      out.uuid = bytes;
      return true;
    }
    PyErr_Clear();
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(key) ? str_text(key, size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "Variable keys must be UUID or str");
    return false;
  }
  out.name = std::string_view(text, static_cast<size_t>(size));
  UuidBytes bytes;
  if ((size == 32 || size == 36 || size == 38 || size == 45) && try_parse_uuid(out.name, bytes)) out.uuid = bytes;
  return true;
}

std::optional<Decimal> parse_text(std::string_view text) {
  auto plain = Decimal::from_str(text);
  if (plain.ok()) return *plain;
  auto scientific = Decimal::from_scientific(text);
  if (scientific.ok()) return *scientific;
  return std::nullopt;
}

// Attempt 2: the value's str() read as a decimal numeral.
std::optional<Decimal> from_value_text(PyObject* value) {
  PyObject* text = PyUnicode_CheckExact(value) ? Py_NewRef(value) : PyObject_Str(value);
  if (text == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* utf8 = str_text(text, size);
  std::optional<Decimal> result;
  if (utf8 != nullptr) {
    result = parse_text(std::string_view(utf8, static_cast<size_t>(size)));
  } else {
    PyErr_Clear();
  }
  Py_DECREF(text);
  return result;
}

Decimal integer_decimal(long long n) {
  const uint64_t magnitude = n < 0 ? uint64_t{0} - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  return Decimal::from_parts(magnitude, 0, 0, n < 0);
}

// The value of an int small enough to sit in one machine digit, read in place.
bool compact_int(PyObject* value, long long& out) {
#if PY_VERSION_HEX >= 0x030C0000
  if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(value))) return false;
  out = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(value));
  return true;
#else
  const Py_ssize_t size = Py_SIZE(value);
  if (size < -1 || size > 1) return false;
  out = size == 0 ? 0 : size * static_cast<long long>(reinterpret_cast<PyLongObject*>(value)->ob_digit[0]);
  return true;
#endif
}

bool convert_value(PyObject* value, const Key& key, Decimal& out, PyObject* native_type) {
  if (reinterpret_cast<PyObject*>(Py_TYPE(value)) == native_type && read_native_decimal(value, out)) return true;
  if (PyLong_CheckExact(value)) {
    long long compact = 0;
    if (compact_int(value, compact)) {
      out = integer_decimal(compact);
      return true;
    }
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) {
      out = integer_decimal(n);
      return true;
    }
  } else if (PyLong_Check(value) || (!PyFloat_Check(value) && !PyUnicode_Check(value) &&
                                     Py_TYPE(value)->tp_as_number && Py_TYPE(value)->tp_as_number->nb_index)) {
    const long long n = PyLong_AsLongLong(value);
    if (!(n == -1 && PyErr_Occurred())) {
      out = integer_decimal(n);
      return true;
    }
    PyErr_Clear();
  }
  if (auto parsed = from_value_text(value)) {
    out = *parsed;
    return true;
  }
  const double d = PyFloat_AsDouble(value);
  if (!(d == -1.0 && PyErr_Occurred())) {
    if (auto converted = Decimal::from_f64(d)) {
      out = *converted;
      return true;
    }
    raise_text(PyExc_ValueError, "Invalid float value for key '" + key.to_varid().display() + "': not finite");
    return false;
  }
  PyErr_Clear();
  if (PyUnicode_Check(value)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 != nullptr) {
      auto parsed = Decimal::from_str(std::string_view(utf8, static_cast<size_t>(size)));
      const std::string reason = parsed.ok() ? std::string() : parsed.error().to_string();
      raise_text(PyExc_ValueError, "Invalid numeric string for key '" + key.to_varid().display() + "': " + reason);
      return false;
    }
    PyErr_Clear();
  }
  raise_text(PyExc_TypeError,
             "Unsupported value type for key '" + key.to_varid().display() + "': expected Decimal, int, float or str");
  return false;
}

// Keys and values whose conversion runs no Python code, so the dict cannot change
// under us: str keys; int, bool, float, str and decimal.Decimal values of exactly
// those types (the C implementation of decimal prints without calling back).
bool converts_without_python_code(PyObject* key, PyObject* value, PyObject* decimal_type) {
  if (!PyUnicode_CheckExact(key)) return false;
  return PyLong_CheckExact(value) || PyFloat_CheckExact(value) || PyUnicode_CheckExact(value) ||
         PyBool_Check(value) || reinterpret_cast<PyObject*>(Py_TYPE(value)) == decimal_type;
}

}  // namespace

PyObject* native_decimal_type() {
  static ProcessWide cell;
  return cell.get([]() -> PyObject* {
    PyObject* cls = decimal_class();
    if (cls == nullptr) return nullptr;
    PyObject* native = PyImport_ImportModule("_decimal");
    if (native == nullptr) {
      PyErr_Clear();
      return Py_None;
    }
    PyObject* native_cls = PyObject_GetAttrString(native, "Decimal");
    Py_DECREF(native);
    if (native_cls == nullptr) PyErr_Clear();
    const bool same = native_cls == cls;
    Py_XDECREF(native_cls);
    PyObject* native_type = same ? cls : Py_None;
    probe_native_decimal(native_type);
    return native_type;
  });
}

namespace {

// `distinct_names`: the keys are exact str objects of one dict, so no two give the same name.
bool add_entry(PyObject* key, PyObject* value, VariableMap& variables, PyObject* native_type, bool distinct_names) {
  Key id;
  if (!read_key(key, id)) return false;
  Decimal converted;
  if (!convert_value(value, id, converted, native_type)) return false;
  if (id.uuid) {
    variables.insert_or_assign(VarId::uuid(*id.uuid), converted);
  } else if (distinct_names) {
    variables.insert_new_name(id.name, converted);
  } else {
    variables.insert_or_assign_name(id.name, converted);
  }
  return true;
}

// The general walk: the dict's own item iterator stops with an error if a
// conversion changes the dict.
bool build_through_iterator(PyObject* vars, VariableMap& variables, PyObject* native_type) {
  PyObject* items = PyObject_CallMethod(vars, "items", nullptr);
  if (items == nullptr) return false;
  PyObject* iter = PyObject_GetIter(items);
  Py_DECREF(items);
  if (iter == nullptr) return false;
  PyObject* pair = nullptr;
  int status = 0;
  while ((status = next_item(iter, &pair)) > 0) {
    const bool ok = add_entry(PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1), variables, native_type, false);
    Py_DECREF(pair);
    if (!ok) {
      Py_DECREF(iter);
      return false;
    }
  }
  Py_DECREF(iter);
  return status == 0;
}

}  // namespace

bool build_context(PyObject* vars, VmContext& context) {
  if (vars == nullptr) return true;
  PyObject* decimal_type = native_decimal_type();
  if (decimal_type == nullptr) return false;
  VariableMap& variables = context.variables;
  variables.reserve(static_cast<size_t>(PyDict_GET_SIZE(vars)));
  // 1 done, 0 failed, -1 an entry needs Python code: walk again with the dict's iterator.
  int outcome = 1;
#if PY_VERSION_HEX >= 0x030D0000
  Py_BEGIN_CRITICAL_SECTION(vars);
#endif
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  // Nothing here runs Python code, so the size read first stays true: the walk
  // stops at the last entry instead of scanning on to the end of the table.
  for (Py_ssize_t left = PyDict_GET_SIZE(vars); left > 0 && PyDict_Next(vars, &pos, &key, &value); --left) {
    if (!converts_without_python_code(key, value, decimal_type)) {
      outcome = -1;
      break;
    }
    if (!add_entry(key, value, variables, decimal_type, true)) {
      outcome = 0;
      break;
    }
  }
#if PY_VERSION_HEX >= 0x030D0000
  Py_END_CRITICAL_SECTION();
#endif
  if (outcome >= 0) return outcome == 1;
  variables.clear();
  return build_through_iterator(vars, variables, decimal_type);
}

bool check_gas(std::optional<int64_t> gas, std::optional<uint64_t>& limit) {
  if (!gas) return true;
  if (*gas < 0) {
    PyErr_SetString(PyExc_ValueError, "gas must be non-negative");
    return false;
  }
  limit = static_cast<uint64_t>(*gas);
  return true;
}

}  // namespace vexlor::py
