#include "runtime/binding.hpp"

#include <cstring>

namespace vexlor::py {
namespace {

void raise_too_many(const Signature& sig, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (sig.required == sig.count) {
    PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", sig.display, sig.count,
                 given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given", sig.display,
                 sig.required, sig.count, given, verb);
  }
}

int param_index(const Signature& sig, PyObject* key) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &size);
  if (text == nullptr) {
    PyErr_Clear();
    return -1;
  }
  for (int i = 0; i < sig.count; ++i) {
    if (std::strlen(sig.names[i]) == static_cast<size_t>(size) && std::memcmp(sig.names[i], text, size) == 0) {
      return i;
    }
  }
  return -1;
}

PyObject* type_qualname(PyObject* obj) {
  return PyType_GetQualName(Py_TYPE(obj));
}

PyObject* sequence_class_qualname() {
  PyObject* abc = PyImport_ImportModule("collections.abc");
  if (abc == nullptr) return nullptr;
  PyObject* cls = PyObject_GetAttrString(abc, "Sequence");
  Py_DECREF(abc);
  if (cls == nullptr) return nullptr;
  PyObject* name = PyObject_GetAttrString(cls, "__qualname__");
  Py_DECREF(cls);
  return name;
}

}  // namespace

bool bind_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  if (nargs > sig.count) {
    raise_too_many(sig, nargs);
    return false;
  }
  for (int i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const int i = param_index(sig, key);
    if (i < 0) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.display, key);
      return false;
    }
    if (out[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", sig.display, key);
      return false;
    }
    out[i] = args[nargs + k];
  }
  for (int i = 0; i < sig.count; ++i) {
    if (out[i] == nullptr && i < sig.required) {
      PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'", sig.display, sig.names[i]);
      return false;
    }
    if (out[i] == Py_None && i >= sig.required) out[i] = nullptr;
  }
  return true;
}

void raise_not_instance(PyObject* obj, const char* name, const char* required) {
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "argument '%s': 'None' is not an instance of '%s'", name, required);
    return;
  }
  PyObject* qualname = type_qualname(obj);
  if (qualname == nullptr) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object is not an instance of '%s'", name, qualname, required);
  Py_DECREF(qualname);
}

void prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* old = PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *old = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &old, &tb);
  PyErr_NormalizeException(&type, &old, &tb);
  if (tb != nullptr) PyException_SetTraceback(old, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
#endif
  PyObject* message = PyObject_Str(old);
  if (message == nullptr) {
    Py_DECREF(old);
    return;
  }
  PyObject* text = PyUnicode_FromFormat("argument '%s': %U", name, message);
  Py_DECREF(message);
  if (text == nullptr) {
    Py_DECREF(old);
    return;
  }
  PyObject* fresh = PyObject_CallOneArg(PyExc_TypeError, text);
  Py_DECREF(text);
  if (fresh == nullptr) {
    Py_DECREF(old);
    return;
  }
  PyException_SetCause(fresh, PyException_GetCause(old));  // steals the new reference
  Py_DECREF(old);
  PyErr_SetObject(PyExc_TypeError, fresh);
  Py_DECREF(fresh);
}

void raise_text(PyObject* type, std::string_view text) {
  PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (message == nullptr) return;
  PyErr_SetObject(type, message);
  Py_DECREF(message);
}

const char* utf8_of(PyObject* str, Py_ssize_t* size) {
  return PyUnicode_AsUTF8AndSize(str, size);
}

bool arg_str_view(PyObject* obj, const char* name, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    raise_not_instance(obj, name, "str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
  if (text == nullptr) {
    prefix_type_error(name);
    return false;
  }
  out = std::string_view(text, static_cast<size_t>(size));
  return true;
}

bool arg_str(PyObject* obj, const char* name, std::string& out) {
  std::string_view text;
  if (!arg_str_view(obj, name, text)) return false;
  out.assign(text);
  return true;
}

bool arg_i64(PyObject* obj, const char* name, int64_t& out) {
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) {
    prefix_type_error(name);
    return false;
  }
  const long long value = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if (value == -1 && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  out = value;
  return true;
}

bool arg_optional_i64(PyObject* obj, const char* name, std::optional<int64_t>& out) {
  if (obj == nullptr) return true;
  int64_t value = 0;
  if (!arg_i64(obj, name, value)) return false;
  out = value;
  return true;
}

bool arg_usize(PyObject* obj, const char* name, size_t& out) {
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) {
    prefix_type_error(name);
    return false;
  }
  const size_t value = PyLong_AsSize_t(index);
  Py_DECREF(index);
  if (value == static_cast<size_t>(-1) && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  out = value;
  return true;
}

bool arg_dict(PyObject* obj, const char* name) {
  if (PyDict_Check(obj)) return true;
  raise_not_instance(obj, name, "dict");
  return false;
}

PyObject* arg_sequence_iter(PyObject* obj, const char* name) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    prefix_type_error(name);
    return nullptr;
  }
  if (!PySequence_Check(obj)) {
    PyObject* qualname = sequence_class_qualname();
    if (qualname == nullptr) return nullptr;
    const char* required = PyUnicode_AsUTF8(qualname);
    if (required != nullptr) raise_not_instance(obj, name, required);
    Py_DECREF(qualname);
    return nullptr;
  }
  PyObject* iter = PyObject_GetIter(obj);
  if (iter == nullptr) prefix_type_error(name);
  return iter;
}

int next_item(PyObject* iter, PyObject** item) {
#if PY_VERSION_HEX >= 0x030E0000
  return PyIter_NextItem(iter, item);
#else
  *item = PyIter_Next(iter);
  if (*item != nullptr) return 1;
  return PyErr_Occurred() ? -1 : 0;
#endif
}

}  // namespace vexlor::py
