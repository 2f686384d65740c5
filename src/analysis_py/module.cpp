// py_vexlor._analysis: what the package's analysis functions (analyze, explain)
// need from the core. One line per entry below; the entries live in their
// family's file (see entries.hpp).

#include "analysis_py/entries.hpp"

namespace vexlor::analysis_py {
namespace {

#define VEXLOR_ENTRY(name, doc) \
  {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<name>)), METH_FASTCALL, doc}

PyMethodDef MODULE_METHODS[] = {
    VEXLOR_ENTRY(instruction_spans,
                 "instruction_spans(source, max_depth, /)\n--\n\nThe (start, end, op_start, op_end) byte offsets "
                 "in `source` of each instruction of CompiledExpression(source, max_depth)."),
    VEXLOR_ENTRY(syntax_warnings,
                 "syntax_warnings(source, max_depth, /)\n--\n\nThe (kind, message, start, end) of each place where "
                 "the text probably does not say what its author means: 'right-grouping' (a - b + c is a - (b + c) "
                 "here) and 'self-comparison'; start and end are byte offsets in `source`."),
    VEXLOR_ENTRY(prepare,
                 "prepare(program_json, source, max_depth, /)\n--\n\nA program made ready for trace(); part of "
                 "py_vexlor.explain."),
    VEXLOR_ENTRY(trace, "trace(prepared, values, gas, /)\n--\n\nThe engine of py_vexlor.explain; call that instead."),
    VEXLOR_ENTRY(steps, "steps(recorded, /)\n--\n\nThe steps of a trace; part of py_vexlor.explain."),
    VEXLOR_ENTRY(analyze,
                 "analyze(text, max_depth, from_json, domains, witness_budget, /)\n--\n\nThe native part of "
                 "py_vexlor.analyze: bounds, failures with witnesses, warnings and spans of a program."),
    VEXLOR_ENTRY(arrow_formats,
                 "arrow_formats(obj, /)\n--\n\nThe Arrow format and name of obj.__arrow_c_schema__(), and those "
                 "of its children."),
    {nullptr, nullptr, 0, nullptr}};

#undef VEXLOR_ENTRY

int exec_module(PyObject*) {
  // The package raises this module's findings as the classes of py_vexlor._lib,
  // which only the main interpreter may load: so may this module.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "py_vexlor._analysis does not support sub-interpreters");
    return -1;
  }
  return 0;
}

PyModuleDef_Slot MODULE_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr}};

PyModuleDef MODULE_DEF = {PyModuleDef_HEAD_INIT, "py_vexlor._analysis",
                          "Static analysis and tracing of programs (see py_vexlor.analyze and py_vexlor.explain).", 0,
                          MODULE_METHODS, MODULE_SLOTS, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace vexlor::analysis_py

PyMODINIT_FUNC PyInit__analysis() { return PyModuleDef_Init(&vexlor::analysis_py::MODULE_DEF); }
