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
  auto result = without_lock([&] { return run(code, context, limit); });
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

namespace {

// An item of a batch: a reference and a shared use, both given back at the end
// of the call (also when unwinding).
class BatchItem {
 public:
  explicit BatchItem(PyObject* owned) : obj_(owned) {}
  BatchItem(BatchItem&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)), shared_(other.shared_) {}
  BatchItem(const BatchItem&) = delete;
  BatchItem& operator=(const BatchItem&) = delete;
  ~BatchItem() {
    if (obj_ == nullptr) return;
    if (shared_) as_expr()->guard.unshare();
    Py_DECREF(obj_);
  }
  // False with RuntimeError set when the object is being changed.
  bool share() {
    shared_ = as_expr()->guard.try_share();
    if (!shared_) PyErr_SetString(PyExc_RuntimeError, AccessGuard::ALREADY_MUTABLY_BORROWED);
    return shared_;
  }
  const Program& code() const { return as_expr()->code; }

 private:
  CompiledExpressionObject* as_expr() const { return reinterpret_cast<CompiledExpressionObject*>(obj_); }
  PyObject* obj_;
  bool shared_ = false;
};

}  // namespace

PyObject* module_evaluate_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[3];
  if (!bind_args(BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  Ref iter(arg_sequence_iter(bound[0], "expressions"));
  if (!iter) return nullptr;
  std::vector<BatchItem> items;
  while (true) {
    PyObject* next = nullptr;
    const int status = next_item(iter.get(), &next);
    if (status < 0) return nullptr;
    if (status == 0) break;
    if (!is_compiled_expression(next)) {
      raise_not_instance(next, "expressions", "CompiledExpression");
      Py_DECREF(next);
      return nullptr;
    }
    BatchItem item(next);  // still owned here if the vector cannot grow
    items.push_back(std::move(item));
    if (!items.back().share()) return nullptr;
  }
  iter = Ref();
  std::optional<int64_t> gas;
  std::optional<uint64_t> limit;
  VmContext context;
  if (!bind_vars_and_gas(bound[1], bound[2], gas) || !check_gas(gas, limit) || !build_context(bound[1], context)) {
    return nullptr;
  }
  std::vector<Decimal> results;
  std::optional<VmError> failure;
  without_lock([&] {
    results.reserve(items.size());
    for (const BatchItem& item : items) {
      auto result = run(item.code(), context, limit);
      if (!result.ok()) {
        failure = std::move(result).error();
        break;
      }
      results.push_back(*result);
    }
  });
  items.clear();
  if (failure) {
    raise_vm_error(*failure);
    note_failing_index(results.size());
    return nullptr;
  }
  Ref list(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return nullptr;
  ResultMaker maker;
  for (size_t i = 0; i < results.size(); ++i) {
    PyObject* value = maker.make(results[i]);
    if (value == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value);
  }
  return list.release();
}

}  // namespace vexlor::py
