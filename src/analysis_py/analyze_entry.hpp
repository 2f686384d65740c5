#pragma once
// Entries of py_vexlor._analysis for py_vexlor.analyze.
//   analyze(text, max_depth, from_json, domains, witness_budget) -> tuple   (METH_FASTCALL)
//   arrow_formats(obj) -> (format, name, [(child name, child format), ...])  (METH_O)

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vexlor::analysis::py {
PyObject* analyze_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* arrow_formats_entry(PyObject* module, PyObject* obj);
}  // namespace vexlor::analysis::py
