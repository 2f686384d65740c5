// The CompiledExpression type: construction, repr, equality, variables, pickling.

#include <algorithm>
#include <new>
#include <set>
#include <vector>

#include "runtime/runtime.hpp"

namespace vexlor::py {
namespace {

const char* const NEW_PARAMS[] = {"expression", "max_depth"};
const Signature NEW_SIGNATURE = {"CompiledExpression.__new__()", NEW_PARAMS, 2, 1};
const char* const SETSTATE_PARAMS[] = {"state"};
const Signature SETSTATE_SIGNATURE = {"CompiledExpression.__setstate__()", SETSTATE_PARAMS, 1, 1};

CompiledExpressionObject* as_object(PyObject* self) { return reinterpret_cast<CompiledExpressionObject*>(self); }

PyObject* construct(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[2];
  if (!bind_args(NEW_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  std::string text;
  if (!arg_str(bound[0], "expression", text)) return nullptr;
  std::optional<int64_t> max_depth;
  if (!arg_optional_i64(bound[1], "max_depth", max_depth)) return nullptr;
  Program code;
  size_t depth = 0;
  if (!compile_checked(text, max_depth, code, depth)) return nullptr;
  return new_compiled_expression(std::move(code), std::move(text), depth);
}

PyObject* type_vectorcall(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  return construct(args, PyVectorcall_NARGS(nargsf), kwnames);
}

PyObject* type_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  // Rearranges a tuple and a dict into the fast-call form the binder reads.
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkw = kwargs == nullptr ? 0 : PyDict_GET_SIZE(kwargs);
  std::vector<PyObject*> flat(static_cast<size_t>(nargs + nkw));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
  Ref kwnames;
  if (nkw > 0) {
    kwnames = Ref(PyTuple_New(nkw));
    if (!kwnames) return nullptr;
    Py_ssize_t pos = 0, i = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      PyTuple_SET_ITEM(kwnames.get(), i, Py_NewRef(key));
      flat[nargs + i] = value;
      ++i;
    }
  }
  return construct(flat.data(), nargs, kwnames.get());
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  CompiledExpressionObject* obj = as_object(self);
  obj->code.~Program();
  obj->source.~optional();
  obj->guard.~AccessGuard();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* repr(PyObject* self) {
  CompiledExpressionObject* obj = as_object(self);
  SharedUse use(obj);
  if (!use.ok()) return nullptr;
  std::string text;
  if (!obj->source) {
    text = "<CompiledExpression (" + std::to_string(obj->code.size()) + " ops)>";
  } else if (obj->max_depth == DEFAULT_MAX_DEPTH) {
    text = "CompiledExpression('" + *obj->source + "')";
  } else {
    text = "CompiledExpression('" + *obj->source + "', max_depth=" + std::to_string(obj->max_depth) + ")";
  }
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// 1 equal, 0 unequal, -1 error (guard refused).
int codes_equal(PyObject* a, PyObject* b) {
  SharedUse use_a(as_object(a));
  if (!use_a.ok()) return -1;
  SharedUse use_b(as_object(b));
  if (!use_b.ok()) return -1;
  return programs_equal(as_object(a)->code, as_object(b)->code) ? 1 : 0;
}

PyObject* richcompare(PyObject* self, PyObject* other, int op) {
  if (op == Py_EQ) {
    if (!is_compiled_expression(self) || !is_compiled_expression(other)) Py_RETURN_NOTIMPLEMENTED;
    const int eq = codes_equal(self, other);
    if (eq < 0) return nullptr;
    return PyBool_FromLong(eq);
  }
  if (op == Py_NE) {
    const int truth = PyObject_RichCompareBool(self, other, Py_EQ);
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
  }
  Py_RETURN_NOTIMPLEMENTED;
}

PyObject* variables(PyObject* self, PyObject*) {
  CompiledExpressionObject* obj = as_object(self);
  SharedUse use(obj);
  if (!use.ok()) return nullptr;
  std::vector<std::string> names;
  for (const OpCode& op : obj->code) {
    if (op.kind() == OpKind::LoadVar) names.push_back(op.var().display());
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(names.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    PyObject* item = PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* reduce(PyObject* self, PyObject*) {
  CompiledExpressionObject* obj = as_object(self);
  Ref rebuild(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytecode_json"));
  if (!rebuild) return nullptr;
  Ref json(to_bytecode_json(self, nullptr));
  if (!json) return nullptr;
  Ref source;
  size_t max_depth = 0;
  {
    SharedUse use(obj);
    if (!use.ok()) return nullptr;
    source = Ref(obj->source ? PyUnicode_FromStringAndSize(obj->source->data(),
                                                           static_cast<Py_ssize_t>(obj->source->size()))
                             : Py_NewRef(Py_None));
    max_depth = obj->max_depth;
  }
  if (!source) return nullptr;
  return Py_BuildValue("(N(N)(NN))", rebuild.release(), json.release(), source.release(),
                       PyLong_FromSize_t(max_depth));
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[1];
  if (!bind_args(SETSTATE_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
  PyObject* state = bound[0];
  if (!PyTuple_Check(state)) {
    raise_not_instance(state, "state", "tuple");
    return nullptr;
  }
  if (PyTuple_GET_SIZE(state) != 2) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd", PyTuple_GET_SIZE(state));
    return nullptr;
  }
  std::optional<std::string> source;
  PyObject* first = PyTuple_GET_ITEM(state, 0);
  if (first != Py_None) {
    std::string text;
    if (!arg_str(first, "state", text)) return nullptr;
    source = std::move(text);
  }
  size_t max_depth = 0;
  if (!arg_usize(PyTuple_GET_ITEM(state, 1), "state", max_depth)) return nullptr;
  CompiledExpressionObject* obj = as_object(self);
  if (!obj->guard.try_exclusive()) {
    PyErr_SetString(PyExc_RuntimeError, AccessGuard::ALREADY_BORROWED);
    return nullptr;
  }
  obj->source = std::move(source);
  obj->max_depth = max_depth;
  obj->guard.release_exclusive();
  Py_RETURN_NONE;
}

template <auto F>
PyCFunction entry() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<F>));
}

PyMethodDef methods[] = {
    {"from_bytecode_json", entry<from_bytecode_json>(), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     doc::FROM_BYTECODE_JSON},
    {"from_bytecode_json_batch", entry<from_bytecode_json_batch>(), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     doc::FROM_BYTECODE_JSON_BATCH},
    {"to_bytecode_json", entry<to_bytecode_json>(), METH_NOARGS, doc::TO_BYTECODE_JSON},
    {"variables", entry<variables>(), METH_NOARGS, doc::VARIABLES},
    {"__reduce__", entry<reduce>(), METH_NOARGS, doc::REDUCE},
    {"__setstate__", entry<setstate>(), METH_FASTCALL | METH_KEYWORDS, doc::SETSTATE},
    {"evaluate", entry<evaluate_method>(), METH_FASTCALL | METH_KEYWORDS, doc::METHOD_EVALUATE},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(doc::COMPILED_EXPRESSION)},
    {Py_tp_new, reinterpret_cast<void*>(guarded<type_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(guarded<richcompare>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "py_vexlor._lib.CompiledExpression",
    sizeof(CompiledExpressionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    slots,
};

}  // namespace

PyTypeObject* compiled_expression_type() {
  static ProcessWide cell;
  return reinterpret_cast<PyTypeObject*>(cell.get([]() -> PyObject* {
    PyObject* type = PyType_FromSpec(&type_spec);
    if (type != nullptr) reinterpret_cast<PyTypeObject*>(type)->tp_vectorcall = guarded<type_vectorcall>;
    return type;
  }));
}

bool is_compiled_expression(PyObject* obj) {
  return Py_IS_TYPE(obj, compiled_expression_type());
}

bool compile_checked(std::string_view text, std::optional<int64_t> max_depth, Program& code, size_t& depth_used) {
  const int64_t depth = max_depth.value_or(static_cast<int64_t>(DEFAULT_MAX_DEPTH));
  if (static_cast<uint64_t>(depth) - 1 >= MAX_MAX_DEPTH) {
    PyErr_SetString(PyExc_ValueError, "max_depth must be between 1 and 1024");
    return false;
  }
  depth_used = static_cast<size_t>(depth);
  auto compiled = without_lock([&] { return compile_str(text, depth_used); });
  if (!compiled.ok()) {
    raise_text(PyExc_ValueError, compiled.error());
    return false;
  }
  code = std::move(compiled).value();
  return true;
}

PyObject* new_compiled_expression(Program&& code, std::optional<std::string> source, size_t max_depth) {
  PyTypeObject* type = compiled_expression_type();
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  CompiledExpressionObject* obj = as_object(self);
  new (&obj->code) Program(std::move(code));
  new (&obj->source) std::optional<std::string>(std::move(source));
  obj->max_depth = max_depth;
  new (&obj->guard) AccessGuard();
  return self;
}

}  // namespace vexlor::py
