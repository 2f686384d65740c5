#include "analysis/warnings.hpp"
#include "analysis_py/entries.hpp"

namespace vexlor::analysis_py {

PyObject* syntax_warnings(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("syntax_warnings", nargs, 2)) return nullptr;
  std::string source;
  std::optional<size_t> max_depth;
  if (!text_arg(args[0], "source", source) || !size_arg(args[1], "max_depth", max_depth, false)) return nullptr;
  auto found = vexlor::syntax_warnings(source, *max_depth);
  if (!found.ok()) {
    PyErr_SetString(PyExc_ValueError, found.error().c_str());
    return nullptr;
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(found->size()));
  for (size_t i = 0; list != nullptr && i < found->size(); ++i) {
    const SyntaxWarning& w = (*found)[i];
    const std::string_view kind = warning_kind_name(w.kind);
    PyObject* item = Py_BuildValue("(s#s#nn)", kind.data(), static_cast<Py_ssize_t>(kind.size()), w.message.data(),
                                   static_cast<Py_ssize_t>(w.message.size()), static_cast<Py_ssize_t>(w.start),
                                   static_cast<Py_ssize_t>(w.end));
    if (item == nullptr) Py_CLEAR(list);
    else PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

}  // namespace vexlor::analysis_py
