// The extension module py_vexlor._lib (multi-phase initialisation) and GasExhaustedError.

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

PyMethodDef evaluate_def = {"evaluate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<module_evaluate>)),
                            METH_FASTCALL | METH_KEYWORDS, doc::EVALUATE};
PyMethodDef evaluate_batch_def = {"evaluate_batch",
                                  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<module_evaluate_batch>)),
                                  METH_FASTCALL | METH_KEYWORDS, doc::EVALUATE_BATCH};

// Appends `name` to the module's __all__ (creating it if absent), then sets the attribute.
int add_exported(PyObject* module, const char* name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      return -1;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  const int appended = text == nullptr ? -1 : PyList_Append(all, text);
  Py_XDECREF(text);
  Py_DECREF(all);
  if (appended < 0) return -1;
  return PyObject_SetAttrString(module, name, value);
}

int add_function(PyObject* module, PyMethodDef* def) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  PyObject* function = PyCFunction_NewEx(def, module, module_name);
  Py_DECREF(module_name);
  if (function == nullptr) return -1;
  const int rc = add_exported(module, def->ml_name, function);
  Py_DECREF(function);
  return rc;
}

int exec_module(PyObject* module) {
  // The module's types and its cached classes of decimal and uuid are shared by
  // the whole process, and objects cannot pass between interpreters: only the main
  // interpreter may load it.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "py_vexlor._lib does not support sub-interpreters");
    return -1;
  }
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of 'module'", Py_TYPE(module)->tp_name);
    return -1;
  }
  if (add_function(module, &evaluate_def) < 0) return -1;
  if (add_function(module, &evaluate_batch_def) < 0) return -1;
  PyObject* type = reinterpret_cast<PyObject*>(compiled_expression_type());
  if (type == nullptr || add_exported(module, "CompiledExpression", type) < 0) return -1;
  PyObject* error = gas_exhausted_error_type();
  if (error == nullptr || add_exported(module, "GasExhaustedError", error) < 0) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(guarded<exec_module>)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_lib", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* gas_exhausted_error_type() {
  static ProcessWide cell;
  return cell.get([] {
    return PyErr_NewExceptionWithDoc("py_vexlor._lib.GasExhaustedError",
                                     "Raised when an evaluation exceeds its gas limit.", PyExc_RuntimeError, nullptr);
  });
}

}  // namespace vexlor::py

PyMODINIT_FUNC PyInit__lib() {
  return PyModuleDef_Init(&vexlor::py::module_def);
}
