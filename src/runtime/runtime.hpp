#pragma once
// The Python-facing layer: the CompiledExpression type, the module functions,
// variable conversion and error mapping. Everything here runs with the
// interpreter lock held unless a function says otherwise.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <optional>
#include <string>

#include "compiler/compiler.hpp"
#include "runtime/access_guard.hpp"
#include "runtime/binding.hpp"
#include "runtime/docs.hpp"
#include "runtime/entry.hpp"
#include "vm/vm.hpp"

namespace vexlor::py {

inline constexpr size_t DEFAULT_MAX_DEPTH = 15;
inline constexpr size_t MAX_MAX_DEPTH = 1024;

// A Python object created once per process on first use. Creating it may run
// Python code (an import, a finalizer, an import hook calling back into this
// module), so no lock is held meanwhile: every thread that finds the cell empty,
// the same thread nested included, creates a value; the first to publish it wins
// and the others drop theirs. `create` returns a new reference, or nullptr with
// the error set (nothing is published then; the next use tries again).
class ProcessWide {
 public:
  template <class Create>
  PyObject* get(Create create) {
    PyObject* value = cell_.load(std::memory_order_acquire);
    if (value != nullptr) [[likely]]
      return value;
    return publish(create());
  }

 private:
  PyObject* publish(PyObject* created) {
    if (created == nullptr) return nullptr;
    PyObject* published = nullptr;
    if (cell_.compare_exchange_strong(published, created, std::memory_order_acq_rel, std::memory_order_acquire)) {
      return created;
    }
    Py_DECREF(created);
    return published;
  }

  std::atomic<PyObject*> cell_{nullptr};
};

// `module.name`, imported on first use and kept for the process (a new
// reference held by `cell`; nullptr with the error set on failure).
inline PyObject* imported_attribute(ProcessWide& cell, const char* module, const char* name) {
  return cell.get([module, name]() -> PyObject* {
    PyObject* imported = PyImport_ImportModule(module);
    if (imported == nullptr) return nullptr;
    PyObject* value = PyObject_GetAttrString(imported, name);
    Py_DECREF(imported);
    return value;
  });
}

struct CompiledExpressionObject {
  PyObject_HEAD
  Program code;
  std::optional<std::string> source;
  size_t max_depth;
  AccessGuard guard;
};

PyTypeObject* compiled_expression_type();
PyObject* gas_exhausted_error_type();
bool is_compiled_expression(PyObject* obj);

// Checks the depth bound and compiles with the interpreter lock released.
// Returns false with ValueError set on failure.
bool compile_checked(std::string_view text, std::optional<int64_t> max_depth, Program& code, size_t& depth_used);
PyObject* new_compiled_expression(Program&& code, std::optional<std::string> source, size_t max_depth);

// Shared use of an object's access guard for a reading operation.
class SharedUse {
 public:
  explicit SharedUse(CompiledExpressionObject* obj) : obj_(obj) {
    if (!obj_->guard.try_share()) {
      obj_ = nullptr;
      PyErr_SetString(PyExc_RuntimeError, AccessGuard::ALREADY_MUTABLY_BORROWED);
    }
  }
  ~SharedUse() {
    if (obj_ != nullptr) obj_->guard.unshare();
  }
  SharedUse(SharedUse&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
  SharedUse(const SharedUse&) = delete;
  SharedUse& operator=(const SharedUse&) = delete;
  bool ok() const { return obj_ != nullptr; }

 private:
  CompiledExpressionObject* obj_;
};

// Variables: None (nullptr) or a dict -> context. False with the error set.
bool build_context(PyObject* vars, VmContext& context);

// Probes the private layout of the C implementation's decimal.Decimal once
// (`decimal_type` is that type, or None); read_native_decimal then takes a value
// of exactly that type straight from its fields when the probe passed and the
// value has the plain text form with at most 28 fractional digits and a
// coefficient below 2^96. False: use the value's text.
void probe_native_decimal(PyObject* decimal_type);
bool read_native_decimal(PyObject* value, Decimal& out);
// When the probe also found that values can be written: a new object of that type
// equal in every field to the one its tp_new makes from the value's text.
bool native_decimal_writable();
PyObject* write_native_decimal(PyTypeObject* decimal_type, const Decimal& value);

// A gas argument: nullptr means no limit; a negative value raises ValueError.
bool check_gas(std::optional<int64_t> gas, std::optional<uint64_t>& limit);

// Results and errors. decimal_class() is decimal.Decimal (a borrowed, process-wide reference).
PyObject* decimal_class();
// decimal.Decimal when it is the C implementation (_decimal), else None; nullptr on error.
PyObject* native_decimal_type();
// decimal.Decimal(text form of a result); one maker serves a whole batch.
class ResultMaker {
 public:
  ResultMaker();
  ResultMaker(const ResultMaker&) = delete;
  ResultMaker& operator=(const ResultMaker&) = delete;
  ~ResultMaker();
  PyObject* make(const Decimal& value);

 private:
  PyObject* args_ = nullptr;  // the argument tuple, its item cleared between calls
};
void raise_vm_error(const VmError& error);

// Evaluation entry points.
PyObject* evaluate_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_evaluate(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_evaluate_batch(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// JSON entry points.
PyObject* to_bytecode_json(PyObject* self, PyObject* unused);
PyObject* from_bytecode_json(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* from_bytecode_json_batch(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vexlor::py
