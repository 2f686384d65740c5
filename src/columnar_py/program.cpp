// The program of an output. A CompiledExpression of py_vexlor._lib lends its
// program directly: this module is built from the same sources in the same
// build, so it shares the object's layout and its access guard. Anything else
// is the program's JSON text.

#include "columnar_py/glue.hpp"
#include "compiler/compiler.hpp"
#include "runtime/runtime.hpp"

namespace vexlor::columnar::py {

int find_compiled_type(ModuleState* state) {
  Ref lib(PyImport_ImportModule("py_vexlor._lib"));
  if (lib == nullptr) return -1;
  Ref type(PyObject_GetAttrString(lib.get(), "CompiledExpression"));
  if (type == nullptr) return -1;
  // A sanity check against a _lib from another build (its size differs): then only text is taken.
  if (PyType_Check(type.get()) &&
      reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize ==
          static_cast<Py_ssize_t>(sizeof(vexlor::py::CompiledExpressionObject))) {
    state->compiled_type = reinterpret_cast<PyTypeObject*>(type.release());
  }
  return 0;
}

bool read_program(PyObject* module, PyObject* given, Program& program) {
  PyTypeObject* compiled = state_of(module)->compiled_type;
  if (compiled != nullptr && Py_IS_TYPE(given, compiled)) {
    auto* obj = reinterpret_cast<vexlor::py::CompiledExpressionObject*>(given);
    vexlor::py::SharedUse use(obj);  // as to_bytecode_json takes it
    if (!use.ok()) return false;
    // Copied op by op: a variable's hash is keyed by a seed each binary draws for itself.
    const Program& lent = obj->code;
    program.clear();
    program.reserve(lent.size());
    for (const OpCode& op : lent) {
      if (op.kind() == OpKind::LoadVar) {
        program.push_load_var(op.var());
      } else {
        program.push_back(op);
      }
    }
    return true;
  }
  if (!PyUnicode_Check(given)) return fail(PyExc_TypeError, "outputs must be (name, program, scale) tuples");
  Py_ssize_t size = 0;
  const char* json = PyUnicode_AsUTF8AndSize(given, &size);
  if (json == nullptr) return false;
  auto read = read_json(std::string_view(json, static_cast<size_t>(size)));
  if (!read.ok()) return fail(PyExc_ValueError, read.error());
  program = std::move(*read);
  return true;
}

}  // namespace vexlor::columnar::py
