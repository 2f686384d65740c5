// Evaluation entry points: CompiledExpression.evaluate, evaluate, evaluate_batch.

#include <cstring>
#include <utility>
#include <vector>

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

const char* const METHOD_PARAMS[] = {"vars", "gas"};
const Signature METHOD_SIGNATURE = {"CompiledExpression.evaluate()", METHOD_PARAMS, 2, 0};
const char* const EVALUATE_PARAMS[] = {"expression", "vars", "gas", "max_depth"};
const Signature EVALUATE_SIGNATURE = {"evaluate()", EVALUATE_PARAMS, 4, 1};
const char* const BATCH_PARAMS[] = {"expressions", "vars", "gas"};
const Signature BATCH_SIGNATURE = {"evaluate_batch()", BATCH_PARAMS, 3, 1};

bool bind_vars_and_gas(PyObject* vars, PyObject* gas, std::optional<int64_t>& gas_value) {
  if (vars != nullptr && !arg_dict(vars, "vars")) return false;
  return arg_optional_i64(gas, "gas", gas_value);
}

// Context building, the lock-free run and the result conversion (steps shared by
// the method and the module function).
PyObject* run_one(const Program& code, PyObject* vars, std::optional<int64_t> gas) {
  std::optional<uint64_t> limit;
  if (!check_gas(gas, limit)) return nullptr;
  VmContext context;
  if (!build_context(vars, context)) return nullptr;
  PyThreadState* released = PyEval_SaveThread();
  auto result = run(code, context, limit);
  PyEval_RestoreThread(released);
  if (!result.ok()) {
    raise_vm_error(result.error());
    return nullptr;
  }
  return ResultMaker().make(*result);
}

PyObject* take_raised() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

void restore_raised(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

// Adds a note naming the failing item to the exception being raised; its class,
// message and arguments stay as they are. If the note cannot be added, that
// failure is raised instead, with the evaluation's exception as its context.
void note_failing_index(size_t index) {
  PyObject* exc = take_raised();
  if (exc == nullptr) return;
  PyObject* note = PyUnicode_FromFormat("evaluate_batch: raised by expressions[%zu]", index);
  PyObject* done = note == nullptr ? nullptr : PyObject_CallMethod(exc, "add_note", "O", note);
  Py_XDECREF(note);
  if (done != nullptr) {
    Py_DECREF(done);
    restore_raised(exc);
    return;
  }
  PyObject* failure = take_raised();
  PyException_SetContext(failure, exc);
  restore_raised(failure);
}

}  // namespace

PyObject* decimal_class() {
  static ProcessWide cell;
  return imported_attribute(cell, "decimal", "Decimal");
}

PyObject* ResultMaker::make(const Decimal& value) {
  PyObject* cls = decimal_class();
  if (cls == nullptr) return nullptr;
  PyObject* native = native_decimal_type();
  if (native == nullptr) return nullptr;
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  if (cls == native && native_decimal_writable() && type->tp_init == PyBaseObject_Type.tp_init) {
    return write_native_decimal(type, value);
  }
  const DecimalText text = value.text();
  PyObject* str = PyUnicode_New(text.size, 127);  // the text form is ASCII
  if (str == nullptr) return nullptr;
  std::memcpy(PyUnicode_1BYTE_DATA(str), text.data, text.size);
  if (cls != native || type->tp_init != PyBaseObject_Type.tp_init) {
    PyObject* result = PyObject_Vectorcall(cls, &str, 1, nullptr);
    Py_DECREF(str);
    return result;
  }
  // The C type's whole construction is its tp_new: call it without the generic
  // type-call machinery, with one argument tuple for all results while nothing
  // else holds on to it.
  if (args_ == nullptr && (args_ = PyTuple_New(1)) == nullptr) {
    Py_DECREF(str);
    return nullptr;
  }
  PyTuple_SET_ITEM(args_, 0, str);
  PyObject* result = type->tp_new(type, args_, nullptr);
  if (Py_REFCNT(args_) == 1) {
    PyTuple_SET_ITEM(args_, 0, nullptr);
    Py_DECREF(str);
  } else {
    Py_CLEAR(args_);
  }
  return result;
}

#ifndef Py_GIL_DISABLED
namespace {
// With an interpreter lock every maker runs while holding it, so one spare
// argument tuple can pass from call to call instead of being made each time.
PyObject* g_spare_args = nullptr;
}  // namespace

ResultMaker::ResultMaker() : args_(std::exchange(g_spare_args, nullptr)) {}

ResultMaker::~ResultMaker() {
  if (args_ != nullptr && g_spare_args == nullptr && Py_REFCNT(args_) == 1) {
    g_spare_args = args_;
  } else {
    Py_XDECREF(args_);
  }
}
#else
ResultMaker::ResultMaker() = default;
ResultMaker::~ResultMaker() { Py_XDECREF(args_); }
#endif

void raise_vm_error(const VmError& error) {
  switch (error.kind()) {
    case VmError::Kind::DivisionByZero:
      PyErr_SetString(PyExc_ZeroDivisionError, "Division by zero");
      return;
    case VmError::Kind::Overflow:
      raise_text(PyExc_OverflowError, error.message());
      return;
    case VmError::Kind::OutOfGas: {
      PyObject* type = gas_exhausted_error_type();
      if (type != nullptr) raise_text(type, error.to_string());
      return;
    }
    default:
      raise_text(PyExc_RuntimeError, error.to_string());
      return;
  }
}

PyObject* evaluate_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[2];
  if (!bind_args(METHOD_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  std::optional<int64_t> gas;
  if (!bind_vars_and_gas(bound[0], bound[1], gas)) return nullptr;
  auto* obj = reinterpret_cast<CompiledExpressionObject*>(self);
  SharedUse use(obj);
  if (!use.ok()) return nullptr;
  return run_one(obj->code, bound[0], gas);
}

PyObject* module_evaluate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[4];
  if (!bind_args(EVALUATE_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  std::string_view text;  // the argument outlives the call
  if (!arg_str_view(bound[0], "expression", text)) return nullptr;
  std::optional<int64_t> gas;
  if (!bind_vars_and_gas(bound[1], bound[2], gas)) return nullptr;
  std::optional<int64_t> max_depth;
  if (!arg_optional_i64(bound[3], "max_depth", max_depth)) return nullptr;
  Program code;
  size_t depth = 0;
  if (!compile_checked(text, max_depth, code, depth)) return nullptr;
  return run_one(code, bound[1], gas);
}

PyObject* module_evaluate_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[3];
  if (!bind_args(BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  PyObject* iter = arg_sequence_iter(bound[0], "expressions");
  if (iter == nullptr) return nullptr;
  // The items stay referenced, and shared, until the end of the call.
  std::vector<PyObject*> items;
  std::vector<SharedUse> uses;
  auto release_items = [&] {
    uses.clear();
    for (PyObject* item : items) Py_DECREF(item);
  };
  PyObject* item = nullptr;
  int status = 0;
  while ((status = next_item(iter, &item)) > 0) {
    if (!is_compiled_expression(item)) {
      raise_not_instance(item, "expressions", "CompiledExpression");
      Py_DECREF(item);
      status = -1;
      break;
    }
    items.push_back(item);
    uses.emplace_back(reinterpret_cast<CompiledExpressionObject*>(item));
    if (!uses.back().ok()) {
      status = -1;
      break;
    }
  }
  Py_DECREF(iter);
  if (status < 0) {
    release_items();
    return nullptr;
  }
  std::optional<int64_t> gas;
  std::optional<uint64_t> limit;
  VmContext context;
  if (!bind_vars_and_gas(bound[1], bound[2], gas) || !check_gas(gas, limit) || !build_context(bound[1], context)) {
    release_items();
    return nullptr;
  }
  std::vector<Decimal> results;
  std::optional<VmError> failure;
  PyThreadState* released = PyEval_SaveThread();
  results.reserve(items.size());
  for (PyObject* expr : items) {
    auto result = run(reinterpret_cast<CompiledExpressionObject*>(expr)->code, context, limit);
    if (!result.ok()) {
      failure = std::move(result).error();
      break;
    }
    results.push_back(*result);
  }
  PyEval_RestoreThread(released);
  release_items();
  if (failure) {
    raise_vm_error(*failure);
    note_failing_index(results.size());
    return nullptr;
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(results.size()));
  if (list == nullptr) return nullptr;
  ResultMaker maker;
  for (size_t i = 0; i < results.size(); ++i) {
    PyObject* value = maker.make(results[i]);
    if (value == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), value);
  }
  return list;
}

}  // namespace vexlor::py
