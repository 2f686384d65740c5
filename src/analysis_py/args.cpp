#include "analysis_py/entries.hpp"

namespace vexlor::analysis_py {

bool expect_args(const char* name, Py_ssize_t nargs, Py_ssize_t count) {
  if (nargs == count) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments (%zd given)", name, count, nargs);
  return false;
}

bool text_arg(PyObject* obj, const char* name, std::string& out) {
  if (!PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "%s must be a str, not '%s'", name, Py_TYPE(obj)->tp_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<size_t>(size));
  return true;
}

bool size_arg(PyObject* obj, const char* name, std::optional<size_t>& out, bool none_ok) {
  if (obj == Py_None && none_ok) {
    out.reset();
    return true;
  }
  if (!PyLong_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "%s must be an int%s, not '%s'", name, none_ok ? " or None" : "",
                 Py_TYPE(obj)->tp_name);
    return false;
  }
  const size_t v = PyLong_AsSize_t(obj);
  if (v == static_cast<size_t>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    PyErr_Format(PyExc_ValueError, "%s must be between 0 and %zu", name, static_cast<size_t>(-1) - 1);
    return false;
  }
  out = v;
  return true;
}

}  // namespace vexlor::analysis_py
