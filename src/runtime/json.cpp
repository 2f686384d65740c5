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
  auto program = without_lock([&] { return read_json(text); });
  if (!program.ok()) {
    raise_text(PyExc_ValueError, program.error());
    return nullptr;
  }
  return new_rebuilt(std::move(program).value());
}

PyObject* from_bytecode_json_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[1];
  if (!bind_args(BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  Ref iter(arg_sequence_iter(bound[0], "json_strs"));
  if (!iter) return nullptr;
  std::vector<std::string> texts;
  while (true) {
    PyObject* next = nullptr;
    const int status = next_item(iter.get(), &next);
    if (status < 0) return nullptr;
    if (status == 0) break;
    Ref item(next);
    texts.emplace_back();
    if (!arg_str(next, "json_strs", texts.back())) return nullptr;
  }
  iter = Ref();

  std::vector<Program> programs;
  std::optional<std::string> failure;
  without_lock([&] {
    programs.reserve(texts.size());
    for (const std::string& text : texts) {
      auto program = read_json(text);
      if (!program.ok()) {
        failure = std::move(program).error();
        break;
      }
      programs.push_back(std::move(program).value());
    }
  });
  if (failure) {
    raise_text(PyExc_ValueError, *failure);
    return nullptr;
  }
  Ref list(PyList_New(static_cast<Py_ssize_t>(programs.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < programs.size(); ++i) {
    PyObject* obj = new_rebuilt(std::move(programs[i]));
    if (obj == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), obj);
  }
  return list.release();
}

}  // namespace vexlor::py
