// Bytecode JSON entry points: to_bytecode_json, from_bytecode_json(_batch).

#include <vector>

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

const char* const JSON_PARAMS[] = {"json_str"};
const Signature JSON_SIGNATURE = {"CompiledExpression.from_bytecode_json()", JSON_PARAMS, 1, 1};
const char* const BATCH_PARAMS[] = {"json_strs"};
const Signature BATCH_SIGNATURE = {"CompiledExpression.from_bytecode_json_batch()", BATCH_PARAMS, 1, 1};

PyObject* new_rebuilt(Program&& code) {
  return new_compiled_expression(std::move(code), std::nullopt, DEFAULT_MAX_DEPTH);
}

}  // namespace

PyObject* to_bytecode_json(PyObject* self, PyObject*) {
  auto* obj = reinterpret_cast<CompiledExpressionObject*>(self);
  SharedUse use(obj);
  if (!use.ok()) return nullptr;
  std::string text;
  text.reserve(128);
  write_json(obj->code, text);
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* from_bytecode_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[1];
  if (!bind_args(JSON_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  std::string text;
  if (!arg_str(bound[0], "json_str", text)) return nullptr;
  PyThreadState* released = PyEval_SaveThread();
  auto program = read_json(text);
  PyEval_RestoreThread(released);
  if (!program.ok()) {
    raise_text(PyExc_ValueError, program.error());
    return nullptr;
  }
  return new_rebuilt(std::move(program).value());
}

PyObject* from_bytecode_json_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[1];
  if (!bind_args(BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  PyObject* iter = arg_sequence_iter(bound[0], "json_strs");
  if (iter == nullptr) return nullptr;
  std::vector<std::string> texts;
  PyObject* item = nullptr;
  int status = 0;
  while ((status = next_item(iter, &item)) > 0) {
    texts.emplace_back();
    const bool ok = arg_str(item, "json_strs", texts.back());
    Py_DECREF(item);
    if (!ok) {
      status = -1;
      break;
    }
  }
  Py_DECREF(iter);
  if (status < 0) return nullptr;

  std::vector<Program> programs;
  std::optional<std::string> failure;
  PyThreadState* released = PyEval_SaveThread();
  programs.reserve(texts.size());
  for (const std::string& text : texts) {
    auto program = read_json(text);
    if (!program.ok()) {
      failure = std::move(program).error();
      break;
    }
    programs.push_back(std::move(program).value());
  }
  PyEval_RestoreThread(released);
  if (failure) {
    raise_text(PyExc_ValueError, *failure);
    return nullptr;
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(programs.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < programs.size(); ++i) {
    PyObject* obj = new_rebuilt(std::move(programs[i]));
    if (obj == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), obj);
  }
  return list;
}

}  // namespace vexlor::py
