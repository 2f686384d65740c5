#pragma once
// The entries of py_vexlor._analysis, by family (one file each), and what they
// share. An entry is a METH_FASTCALL function; module.cpp lists it once,
// wrapped by `guarded`, which turns C++ exceptions into Python ones. Arguments
// are checked by the package functions that call these; the checks here only
// keep the module safe when it is called directly.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

namespace vexlor::analysis_py {

using Entry = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

template <Entry impl>
PyObject* guarded(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  try {
    return impl(module, args, nargs);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {  // any other C++ exception: reported as memory exhaustion, as the other modules do
    return PyErr_NoMemory();
  }
}

// --- argument helpers (false / nullptr with the error set) --------------------
bool expect_args(const char* name, Py_ssize_t nargs, Py_ssize_t count);
// A str argument, copied (the copy outlives any Python code run later).
bool text_arg(PyObject* obj, const char* name, std::string& out);
// An int >= 0, or None (nullopt) where `none_ok`.
bool size_arg(PyObject* obj, const char* name, std::optional<size_t>& out, bool none_ok);
// An int >= 0 within 64 bits, or None (nullopt).
bool u64_arg(PyObject* obj, const char* name, std::optional<uint64_t>& out);

// --- spans.cpp ------------------------------------------------------------------
// instruction_spans(source, max_depth) -> list[tuple[start, end, op_start, op_end]]
PyObject* instruction_spans(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// --- warnings.cpp ---------------------------------------------------------------
// syntax_warnings(source, max_depth) -> list[tuple[kind, message, start, end]]
PyObject* syntax_warnings(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// --- trace.cpp ------------------------------------------------------------------
// prepare(program_json, source, max_depth); trace(prepared, values, gas); steps(recorded): see trace.cpp
PyObject* prepare(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* trace(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* steps(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// --- analyze_entry.cpp ------------------------------------------------------------
// analyze(text, max_depth, from_json, domains, witness_budget) -> outcome tuple (see
// python/py_vexlor/_analysis.pyi and _analyze.py)
PyObject* analyze(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// arrow_formats(obj) -> (format, name, [(child name, child format), ...]) of obj.__arrow_c_schema__()
PyObject* arrow_formats(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace vexlor::analysis_py
