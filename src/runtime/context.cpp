// Python `vars` dict -> evaluation context: keys to VarId, values to Decimal.

#include <array>
#include <exception>
#include <string>

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

PyObject* uuid_class() {
  static ProcessWide cell;
  return imported_attribute(cell, "uuid", "UUID");
}

// After a failed attempt whose error is to be discarded: clears an ordinary error
// (an Exception other than MemoryError) and returns true; leaves KeyboardInterrupt,
// SystemExit, MemoryError and the like pending for the caller and returns false.
bool drop_ordinary_error() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError) || !PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  return true;
}

// The 16 bytes of a uuid.UUID's `int`, most significant first. False when the key
// is not a UUID or anything fails (with the error still set in that case).
bool uuid_object_bytes(PyObject* key, UuidBytes& out) {
  PyObject* cls = uuid_class();
  if (cls == nullptr) return false;
  if (!Py_IS_TYPE(key, reinterpret_cast<PyTypeObject*>(cls))) {
    const int is = PyObject_IsInstance(key, cls);
    if (is <= 0) return false;
  }
  Ref value(PyObject_GetAttrString(key, "int"));
  if (!value) return false;
  if (!PyLong_Check(value.get())) return false;
#if PY_VERSION_HEX >= 0x030D0000
  const Py_ssize_t needed = PyLong_AsNativeBytes(value.get(), out.data(), 16,
                                                 Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER |
                                                     Py_ASNATIVEBYTES_REJECT_NEGATIVE);
  return needed >= 0 && needed <= 16;
#else
  return _PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(value.get()), out.data(), 16, 0, 0) == 0;
#endif
}

// The UTF-8 text of a str: ASCII strings are read in place.
const char* str_text(PyObject* str, Py_ssize_t& size) {
  if (PyUnicode_IS_ASCII(str)) {
    size = PyUnicode_GET_LENGTH(str);
    return reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(str));
  }
  return PyUnicode_AsUTF8AndSize(str, &size);
}

// A key as read from Python: a UUID, or the text of a name (a view into the key's
// str, which the caller holds a reference to).
struct Key {
  std::optional<UuidBytes> uuid;
  std::string_view name;
  VarId to_varid() const { return uuid ? VarId::uuid(*uuid) : VarId::name(name); }
};

void read_name(std::string_view text, Key& out) {
  out.name = text;
  const size_t size = text.size();
  UuidBytes bytes;
  if ((size == 32 || size == 36 || size == 38 || size == 45) && try_parse_uuid(text, bytes)) out.uuid = bytes;
}

bool read_key(PyObject* key, Key& out) {
  if (!PyUnicode_CheckExact(key)) {
    UuidBytes bytes;
    if (uuid_object_bytes(key, bytes)) {
      out.uuid = bytes;
      return true;
    }
    if (PyErr_Occurred() && !drop_ordinary_error()) return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(key) ? str_text(key, size) : nullptr;
  if (text == nullptr) {
    if (PyErr_Occurred() && !drop_ordinary_error()) return false;
    PyErr_SetString(PyExc_TypeError, "Variable keys must be UUID or str");
    return false;
  }
  read_name(std::string_view(text, static_cast<size_t>(size)), out);
  return true;
}

std::optional<Decimal> parse_text(std::string_view text) {
  auto plain = Decimal::from_str(text);
  if (plain.ok()) return *plain;
  auto scientific = Decimal::from_scientific(text);
  if (scientific.ok()) return *scientific;
  return std::nullopt;
}

// Attempt 2: the value's str() read as a decimal numeral. 1 read, 0 not a
// numeral (or str() failed in an ordinary way), -1 an error to pass on.
int from_value_text(PyObject* value, Decimal& out) {
  Ref text(PyUnicode_CheckExact(value) ? Py_NewRef(value) : PyObject_Str(value));
  if (!text) return drop_ordinary_error() ? 0 : -1;
  Py_ssize_t size = 0;
  const char* utf8 = str_text(text.get(), size);
  if (utf8 == nullptr) return drop_ordinary_error() ? 0 : -1;
  const auto parsed = parse_text(std::string_view(utf8, static_cast<size_t>(size)));
  if (!parsed) return 0;
  out = *parsed;
  return 1;
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

// An exact int (or bool) within 64 bits, read without calling anything.
bool plain_int(PyObject* value, Decimal& out) {
  long long n = 0;
  if (!compact_int(value, n)) {
    int overflow = 0;
    n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) return false;
  }
  out = integer_decimal(n);
  return true;
}

// Values that convert without running Python code (nothing is called and no
// object the garbage collector tracks is made): decimal.Decimal of the C type
// with a readable layout, exact ints and bools within 64 bits, exact floats and
// strs whose text is a numeral. False: the value needs the full conversion.
bool convert_plain(PyObject* value, Decimal& out, PyObject* native_type) {
  PyTypeObject* type = Py_TYPE(value);
  if (reinterpret_cast<PyObject*>(type) == native_type) return read_native_decimal(value, out);
  if (type == &PyLong_Type || type == &PyBool_Type) return plain_int(value, out);
  if (type != &PyFloat_Type && type != &PyUnicode_Type) return false;
  Py_ssize_t size = 0;
  // A float's repr is a new str; str objects are not tracked by the collector.
  Ref text(type == &PyFloat_Type ? PyObject_Str(value) : Py_NewRef(value));
  const char* utf8 = text ? str_text(text.get(), size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();  // the full conversion meets the same error again
    return false;
  }
  const auto parsed = parse_text(std::string_view(utf8, static_cast<size_t>(size)));
  if (!parsed) return false;
  out = *parsed;
  return true;
}

[[gnu::cold]] void raise_for_key(PyObject* type, const Key& key, const char* before, std::string_view after) {
  raise_text(type, before + key.to_varid().display() + std::string(after));
}

// The attempts in order; each failure that is an ordinary error is discarded.
bool convert_value(PyObject* value, const Key& key, Decimal& out, PyObject* native_type) {
  if (convert_plain(value, out, native_type)) return true;
  // 1. Integer: an int, or anything with __index__.
  if (PyLong_Check(value) || (!PyFloat_Check(value) && !PyUnicode_Check(value) && Py_TYPE(value)->tp_as_number &&
                              Py_TYPE(value)->tp_as_number->nb_index)) {
    const long long n = PyLong_AsLongLong(value);
    if (!(n == -1 && PyErr_Occurred())) {
      out = integer_decimal(n);
      return true;
    }
    if (!drop_ordinary_error()) return false;
  }
  // 2. The value's str().
  const int text = from_value_text(value, out);
  if (text != 0) return text > 0;
  // 3. A double.
  const double d = PyFloat_AsDouble(value);
  if (!(d == -1.0 && PyErr_Occurred())) {
    if (auto converted = Decimal::from_f64(d)) {
      out = *converted;
      return true;
    }
    raise_for_key(PyExc_ValueError, key, "Invalid float value for key '", "': not finite");
    return false;
  }
  if (!drop_ordinary_error()) return false;
  // 4. A str's own text (a subclass's __str__ may have said something else).
  if (PyUnicode_Check(value)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 != nullptr) {
      auto parsed = Decimal::from_str(std::string_view(utf8, static_cast<size_t>(size)));
      if (parsed.ok()) {
        out = *parsed;
        return true;
      }
      raise_for_key(PyExc_ValueError, key, "Invalid numeric string for key '", "': " + parsed.error().to_string());
      return false;
    }
    if (!drop_ordinary_error()) return false;
  }
  raise_for_key(PyExc_TypeError, key, "Unsupported value type for key '", "': expected Decimal, int, float or str");
  return false;
}

}  // namespace

PyObject* native_decimal_type() {
  static ProcessWide cell;
  return cell.get([]() -> PyObject* {
    PyObject* cls = decimal_class();
    if (cls == nullptr) return nullptr;
    Ref native(PyImport_ImportModule("_decimal"));
    Ref native_cls(native ? PyObject_GetAttrString(native.get(), "Decimal") : nullptr);
    if (!native_cls && !drop_ordinary_error()) return nullptr;
    // Only the C implementation's own type has the fields that are read and written
    // directly; the probe also checks the type object itself.
    PyObject* native_type = native_cls.get() == cls ? cls : Py_None;
    probe_native_decimal(native_type);
    return Py_NewRef(native_type);
  });
}

namespace {

// One entry of the general walk; the caller holds references to key and value.
bool add_entry(PyObject* key, PyObject* value, VariableMap& variables, PyObject* native_type) {
  Key id;
  if (!read_key(key, id)) return false;
  Decimal converted;
  if (!convert_value(value, id, converted, native_type)) return false;
  if (id.uuid) {
    variables.insert_or_assign(VarId::uuid(*id.uuid), converted);
  } else {
    variables.insert_or_assign_name(id.name, converted);
  }
  return true;
}

// The walk of a dict whose entries all convert without running Python code: the
// dict's own table is read in place, and its keys are distinct texts. 1 done, 0
// an entry needs the general walk.
int build_plain(PyObject* vars, VariableMap& variables, PyObject* native_type) {
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  // Nothing here runs Python code, so the size read first stays true: the walk
  // stops at the last entry instead of scanning on to the end of the table.
  for (Py_ssize_t left = PyDict_GET_SIZE(vars); left > 0 && PyDict_Next(vars, &pos, &key, &value); --left) {
    if (!PyUnicode_CheckExact(key)) return 0;
    Py_ssize_t size = 0;
    const char* text = str_text(key, size);
    if (text == nullptr) {
      PyErr_Clear();
      return 0;
    }
    Decimal converted;
    if (!convert_plain(value, converted, native_type)) return 0;
    Key id;
    read_name(std::string_view(text, static_cast<size_t>(size)), id);
    if (id.uuid) {
      variables.insert_or_assign(VarId::uuid(*id.uuid), converted);
    } else {
      variables.insert_new_name(id.name, converted);
    }
  }
  return 1;
}

// The general walk, over the dict's own entries as `dict.items` gives them (an
// override in a subclass is not called): the iterator stops with an error if a
// conversion changes the dict, and each item tuple holds its key and value alive
// while their conversion runs Python code.
bool build_general(PyObject* vars, VariableMap& variables, PyObject* native_type) {
  Ref items(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyDict_Type), "items", "O", vars));
  if (!items) return false;
  Ref iter(PyObject_GetIter(items.get()));
  if (!iter) return false;
  while (true) {
    PyObject* next = nullptr;
    const int status = next_item(iter.get(), &next);
    if (status <= 0) return status == 0;
    Ref pair(next);
    if (!add_entry(PyTuple_GET_ITEM(next, 0), PyTuple_GET_ITEM(next, 1), variables, native_type)) return false;
  }
}

}  // namespace

bool build_context(PyObject* vars, VmContext& context) {
  if (vars == nullptr) return true;
  PyObject* native_type = native_decimal_type();
  if (native_type == nullptr) return false;
  VariableMap& variables = context.variables;
  variables.reserve(static_cast<size_t>(PyDict_GET_SIZE(vars)));
  int done = 0;
#if PY_VERSION_HEX >= 0x030D0000
  // Unwinding must not skip the end of the critical section.
  std::exception_ptr failure;
  Py_BEGIN_CRITICAL_SECTION(vars);
  try {
    done = build_plain(vars, variables, native_type);
  } catch (...) {
    failure = std::current_exception();
  }
  Py_END_CRITICAL_SECTION();
  if (failure) std::rethrow_exception(failure);
#else
  done = build_plain(vars, variables, native_type);
#endif
  if (done) return true;
  variables.clear();
  return build_general(vars, variables, native_type);
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
