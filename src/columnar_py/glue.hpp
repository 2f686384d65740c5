#pragma once
// The Python glue of columnar evaluation (module py_vexlor._columnar): reading the
// caller's data into columns, and the result types. Everything here runs with the
// interpreter lock held unless said otherwise.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string>
#include <vector>

#include "columnar/batch.hpp"
#include "columnar/result.hpp"

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

// True when `data` is a table given through the Arrow PyCapsule interface.
// -1 with the error set.
int is_arrow_table(PyObject* data);

// Takes the stream of an Arrow table (or a one-batch stream of its array) and
// its schema, read from it at once. False with the error set.
bool open_table(PyObject* data, ArrowArrayStream& stream, ArrowSchema& schema, bool& single);

// Reads a mapping `data` into one column per variable of `vars` (`columns[j].key`
// set by the caller) and sets `rows`; `names` gets the keys of every column.
bool read_mapping(PyObject* data, const std::vector<VarId>& vars, std::vector<Column>& columns, int64_t& rows,
                  Holdings& holdings, std::vector<VarId>& names);

// The `vars` dict read by the rules for variable values. False with the error set.
bool read_shared(PyObject* vars, std::vector<SharedValue>& out);

// True when the error set is one that must reach the caller unchanged: anything
// that is not an Exception (KeyboardInterrupt, SystemExit, ...) and MemoryError.
bool must_propagate();

bool fail(PyObject* type, const std::string& message);

// Errors of rows and of result types, raised as evaluate would raise them.
void raise_row_error(const RowError& e, int64_t row);
void raise_scale_overflow(const ScaleOverflow& o, bool at_export);

struct ModuleState {
  PyTypeObject* result_type;
  PyTypeObject* source_type;  // the pending stream of evaluate_stream
  PyTypeObject* compiled_type;  // py_vexlor._lib.CompiledExpression; null: programs come as JSON only
};
inline ModuleState* state_of(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

// The ColumnResult type (set up by the module) and making one.
PyObject* new_result(PyObject* module, std::shared_ptr<const ResultColumn> column);
const std::shared_ptr<const ResultColumn>* result_column(PyObject* module, PyObject* obj);

// A capsule owning the filled struct `p`; on failure the struct is released and freed.
PyObject* stream_capsule(ArrowArrayStream* stream);

// Sets state->compiled_type when this build's CompiledExpression is loaded. -1 with the error set.
int find_compiled_type(ModuleState* state);

// An output's program: a CompiledExpression of `state->compiled_type` (read under its
// access guard) or the JSON text of a program. False with the error set.
bool read_program(PyObject* module, PyObject* given, Program& program);

// The entry points of run.cpp.
PyObject* evaluate(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* open_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* table_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyTypeObject* make_source_type(PyObject* module);

// The ident of the main thread, where signals are handled.
void remember_main_thread();

}  // namespace vexlor::columnar::py
