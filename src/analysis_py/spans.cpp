#include "analysis/spans.hpp"
#include "analysis_py/entries.hpp"

namespace vexlor::analysis_py {

PyObject* instruction_spans(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("instruction_spans", nargs, 2)) return nullptr;
  std::string source;
  std::optional<size_t> max_depth;
  if (!text_arg(args[0], "source", source) || !size_arg(args[1], "max_depth", max_depth, false)) return nullptr;
  auto spans = vexlor::instruction_spans(source, *max_depth);
  if (!spans.ok()) {
    PyErr_SetString(PyExc_ValueError, spans.error().c_str());
    return nullptr;
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(spans->size()));
  for (size_t i = 0; list != nullptr && i < spans->size(); ++i) {
    const InstructionSpan& s = (*spans)[i];
    PyObject* item = Py_BuildValue("(nnnn)", static_cast<Py_ssize_t>(s.start), static_cast<Py_ssize_t>(s.end),
                                   static_cast<Py_ssize_t>(s.op_start), static_cast<Py_ssize_t>(s.op_end));
    if (item == nullptr) Py_CLEAR(list);
    else PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

}  // namespace vexlor::analysis_py
