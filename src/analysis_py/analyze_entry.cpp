// py_vexlor._analysis.analyze and arrow_formats: the native part of
// py_vexlor.analyze. The package turns domains into plain tuples and the
// outcome tuple into its objects.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "analysis/analyze.hpp"
#include "analysis/witness.hpp"
#include "columnar/arrow_abi.hpp"
#include "compiler/compiler.hpp"
#include "analysis/spans.hpp"
#include "analysis_py/entries.hpp"

namespace vexlor::analysis_py {
namespace {

using namespace vexlor::analysis;

struct DropRef {
  void operator()(PyObject* obj) const { Py_XDECREF(obj); }
};
using Ref = std::unique_ptr<PyObject, DropRef>;

bool text_of(PyObject* obj, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) return false;
  out.assign(data, static_cast<size_t>(size));
  return true;
}

// A bound's text, or None for the unbounded side.
PyObject* bound_text(const Decimal& v, bool unbounded) {
  if (unbounded) Py_RETURN_NONE;
  return PyUnicode_FromString(v.to_string().c_str());
}

bool read_bound(PyObject* obj, const Decimal& none_value, Decimal& out) {
  if (obj == Py_None) {
    out = none_value;
    return true;
  }
  std::string text;
  if (!text_of(obj, text)) return false;
  auto d = Decimal::from_str(text);
  if (!d.ok()) d = Decimal::from_scientific(text);
  if (!d.ok()) {
    PyErr_Format(PyExc_ValueError, "bound %R is not a decimal within range", obj);
    return false;
  }
  out = *d;
  return true;
}

// (name, low text|None, high text|None, min_scale, max_scale, neg_zero, read_failure|None, prefix, float_values)
bool read_domains(PyObject* seq, std::vector<VarDomain>& out) {
  Ref fast(PySequence_Fast(seq, "domains must be a sequence"));
  if (!fast) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    // Held: parsing runs Python code (`p` calls __bool__) that could drop it from a list.
    Ref item(Py_NewRef(PySequence_Fast_GET_ITEM(fast.get(), i)));
    PyObject *name, *lo, *hi, *fail;
    int min_scale, max_scale, neg_zero, prefix, float_values;
    if (!PyArg_ParseTuple(item.get(), "UOOiipOpp", &name, &lo, &hi, &min_scale, &max_scale, &neg_zero, &fail, &prefix,
                          &float_values))
      return false;
    VarDomain d;
    if (!text_of(name, d.name)) return false;
    Decimal l, h;
    if (!read_bound(lo, Decimal::min_value(), l) || !read_bound(hi, Decimal::max_value(), h)) return false;
    if (min_scale < 0 || max_scale > static_cast<int>(MAX_SCALE) || min_scale > max_scale || l.cmp(h) > 0) {
      PyErr_Format(PyExc_ValueError, "empty domain for %R", name);
      return false;
    }
    d.value = Interval::range(l, h, static_cast<uint8_t>(min_scale), static_cast<uint8_t>(max_scale), neg_zero != 0);
    if (fail != Py_None && !text_of(fail, d.read_failure)) return false;
    d.read_failure_is_prefix = prefix != 0;
    d.float_values = float_values != 0;
    out.push_back(std::move(d));
  }
  return true;
}

PyObject* build_outcome(const Report& r, const std::vector<std::string>& names,
                        const std::vector<Witness>& witnesses,
                        const std::vector<InstructionSpan>* spans) {
  Ref vars(PyList_New(static_cast<Py_ssize_t>(names.size())));
  if (!vars) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    PyObject* s = PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
    if (s == nullptr) return nullptr;
    PyList_SET_ITEM(vars.get(), static_cast<Py_ssize_t>(i), s);
  }
  Ref failures(PyList_New(static_cast<Py_ssize_t>(r.failures.size())));
  if (!failures) return nullptr;
  // One tuple per distinct witness, shared by the failures it serves.
  const Assignment* last_assignment = nullptr;
  Ref last_tuple;
  for (size_t i = 0; i < r.failures.size(); ++i) {
    const FailureSite& f = r.failures[i];
    Ref witness;
    if (i < witnesses.size() && witnesses[i] && witnesses[i].get() == last_assignment) {
      witness.reset(Py_NewRef(last_tuple.get()));
    } else if (i < witnesses.size() && witnesses[i]) {
      witness.reset(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
      if (!witness) return nullptr;
      for (size_t v = 0; v < names.size(); ++v) {
        PyObject* t = PyUnicode_FromString((*witnesses[i])[v].to_string().c_str());
        if (t == nullptr) return nullptr;
        PyTuple_SET_ITEM(witness.get(), static_cast<Py_ssize_t>(v), t);
      }
      last_assignment = witnesses[i].get();
      last_tuple.reset(Py_NewRef(witness.get()));
    } else {
      witness.reset(Py_NewRef(Py_None));
    }
    const Py_ssize_t pc = f.pc == END_OF_RUN ? -1 : static_cast<Py_ssize_t>(f.pc);
    PyObject* t = Py_BuildValue("(ss#NnNN)", failure_kind_name(f.kind), f.message.data(),
                                static_cast<Py_ssize_t>(f.message.size()), PyBool_FromLong(f.prefix), pc,
                                witness.release(), PyBool_FromLong(f.from_reading));
    if (t == nullptr) return nullptr;
    PyList_SET_ITEM(failures.get(), static_cast<Py_ssize_t>(i), t);
  }
  Ref warnings(PyList_New(static_cast<Py_ssize_t>(r.warnings.size())));
  if (!warnings) return nullptr;
  for (size_t i = 0; i < r.warnings.size(); ++i) {
    PyObject* t = Py_BuildValue("(ss#n)", r.warnings[i].kind, r.warnings[i].message.data(),
                                static_cast<Py_ssize_t>(r.warnings[i].message.size()),
                                static_cast<Py_ssize_t>(r.warnings[i].pc));
    if (t == nullptr) return nullptr;
    PyList_SET_ITEM(warnings.get(), static_cast<Py_ssize_t>(i), t);
  }
  Ref gas(r.gas ? PyLong_FromUnsignedLongLong(*r.gas) : Py_NewRef(Py_None));
  if (!gas) return nullptr;
  Ref lo, hi;
  if (r.has_result) {
    lo.reset(bound_text(r.result.lo, r.result.unbounded_below()));
    hi.reset(bound_text(r.result.hi, r.result.unbounded_above()));
  } else {
    lo.reset(Py_NewRef(Py_None));
    hi.reset(Py_NewRef(Py_None));
  }
  if (!lo || !hi) return nullptr;
  const int min_scale = r.has_result ? r.result.min_scale : 0;
  const int max_scale = r.has_result ? r.result.max_scale : 0;
  Ref span_list;
  if (spans != nullptr && (!r.failures.empty() || !r.warnings.empty())) {  // only places need spans
    span_list.reset(PyList_New(static_cast<Py_ssize_t>(spans->size())));
    if (!span_list) return nullptr;
    for (size_t i = 0; i < spans->size(); ++i) {
      const InstructionSpan& sp = (*spans)[i];
      PyObject* t = Py_BuildValue("(nnnn)", static_cast<Py_ssize_t>(sp.start), static_cast<Py_ssize_t>(sp.end),
                                  static_cast<Py_ssize_t>(sp.op_start), static_cast<Py_ssize_t>(sp.op_end));
      if (t == nullptr) return nullptr;
      PyList_SET_ITEM(span_list.get(), static_cast<Py_ssize_t>(i), t);
    }
  } else {
    span_list.reset(Py_NewRef(Py_None));
  }
  return Py_BuildValue("(NNNNNiiNNN)", vars.release(), gas.release(), PyBool_FromLong(r.has_result), lo.release(),
                       hi.release(), min_scale, max_scale, failures.release(), warnings.release(), span_list.release());
}

PyObject* analyze_impl(PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 5) {
    PyErr_SetString(PyExc_TypeError, "analyze(text, max_depth, from_json, domains, witness_budget)");
    return nullptr;
  }
  std::string text;
  if (!text_of(args[0], text)) return nullptr;
  const Py_ssize_t max_depth = PyLong_AsSsize_t(args[1]);
  if (max_depth == -1 && PyErr_Occurred()) return nullptr;
  if (max_depth < 1 || max_depth > 1024) {  // the compiler recurses once per level
    PyErr_SetString(PyExc_ValueError, "max_depth must be between 1 and 1024");
    return nullptr;
  }
  const int from_json = PyObject_IsTrue(args[2]);
  if (from_json < 0) return nullptr;
  std::vector<VarDomain> domains;
  if (!read_domains(args[3], domains)) return nullptr;
  const Py_ssize_t budget = PyLong_AsSsize_t(args[4]);
  if (budget == -1 && PyErr_Occurred()) return nullptr;

  Expected<Program, std::string> program = Program{};
  std::vector<InstructionSpan> spans;
  bool have_spans = false;
  Report report;
  std::vector<std::string> names;
  std::vector<Witness> witnesses;
  bool bad_alloc = false;
  Py_BEGIN_ALLOW_THREADS
  try {
    if (from_json) {
      program = read_json(text);
    } else {
      Program compiled;
      auto found = instruction_spans(text, static_cast<size_t>(max_depth), compiled);
      if (found.ok()) {
        spans = std::move(*found);
        have_spans = true;
        program = std::move(compiled);
      } else {
        program = compile_str(text, static_cast<size_t>(max_depth));
      }
    }
    if (program.ok()) {
      report = vexlor::analysis::analyze(*program, domains);
      names = program_variables(*program);
      if (!report.failures.empty() && budget > 0)
        witnesses = find_witnesses(*program, names, domains, report.failures, static_cast<size_t>(budget));
    }
  } catch (...) {  // nothing may leave while the lock is released
    bad_alloc = true;
  }
  Py_END_ALLOW_THREADS
  if (bad_alloc) return PyErr_NoMemory();
  if (!program.ok()) {
    PyErr_SetString(PyExc_ValueError, program.error().c_str());
    return nullptr;
  }
  return build_outcome(report, names, witnesses, have_spans ? &spans : nullptr);
}

// (format, name) of one ArrowSchema and of its children.
PyObject* schema_tuple(const ArrowSchema* s) {
  Ref children(PyList_New(0));
  if (!children) return nullptr;
  for (int64_t i = 0; i < s->n_children; ++i) {
    const ArrowSchema* c = s->children[i];
    Ref item(Py_BuildValue("(ss)", c->name != nullptr ? c->name : "", c->format != nullptr ? c->format : ""));
    if (!item || PyList_Append(children.get(), item.get()) < 0) return nullptr;
  }
  return Py_BuildValue("(ssN)", s->format != nullptr ? s->format : "", s->name != nullptr ? s->name : "",
                       children.release());
}

}  // namespace

PyObject* analyze(PyObject*, PyObject* const* args, Py_ssize_t nargs) { return analyze_impl(args, nargs); }

PyObject* arrow_formats(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!expect_args("arrow_formats", nargs, 1)) return nullptr;
  Ref capsule(PyObject_CallMethod(args[0], "__arrow_c_schema__", nullptr));
  if (!capsule) return nullptr;
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule.get(), "arrow_schema"));
  if (schema == nullptr) return nullptr;
  // The capsule keeps ownership of the schema: it is read here and released with it.
  return schema_tuple(schema);
}

}  // namespace vexlor::analysis_py
