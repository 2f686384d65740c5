#pragma once
// The Python glue of columnar evaluation (module py_vexlor._columnar): reading the
// caller's data into columns, and the result type. Everything here runs with the
// interpreter lock held.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <vector>

#include "columnar/runner.hpp"

namespace vexlor::columnar::py {

// A strong reference, dropped when it goes out of scope (also when an exception
// passes through).
struct DropRef {
  void operator()(PyObject* obj) const { Py_DECREF(obj); }
};
using Ref = std::unique_ptr<PyObject, DropRef>;

// Owns what a call took from the caller: moved-out Arrow structs (released at
// the end of the call) and values converted from Python sequences.
struct Holdings {
  Holdings() = default;
  Holdings(const Holdings&) = delete;
  Holdings& operator=(const Holdings&) = delete;
  ~Holdings();
  std::vector<std::unique_ptr<ArrowSchema>> schemas;
  std::vector<std::unique_ptr<ArrowArray>> arrays;
  std::vector<std::unique_ptr<ArrowArrayStream>> streams;
  std::vector<std::unique_ptr<PreparedValues>> prepared;
};

// Reads `data` into one column per variable of `vars` (`columns[j].key` set by
// the caller) and sets `rows`. False with the error set.
bool read_data(PyObject* data, const std::vector<VarId>& vars, std::vector<Column>& columns, int64_t& rows,
               Holdings& holdings);

// True when the error set is one that must reach the caller unchanged: anything
// that is not an Exception (KeyboardInterrupt, SystemExit, ...) and MemoryError.
bool must_propagate();

}  // namespace vexlor::columnar::py
