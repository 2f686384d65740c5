#pragma once
// Argument binding shared by every Python entry point, and the conversions of
// bound arguments with their fixed messages.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexlor::py {

// A callable's parameters: display name ("evaluate()"), names in order, and how
// many leading ones are required. Every parameter is positional-or-keyword.
struct Signature {
  const char* display;
  const char* const* names;
  int count;
  int required;
};

inline constexpr int MAX_PARAMS = 4;

// Binds fast-call arguments. On success out[i] is a borrowed reference, or
// nullptr when the parameter was left out or given as None. Returns false with
// a TypeError set on failure.
bool bind_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out);

// Conversions of a bound argument. On failure they return false with the
// exception set; TypeErrors carry the "argument '<name>': " prefix.
bool arg_str(PyObject* obj, const char* name, std::string& out);
// The same without a copy: the view is the str's own UTF-8 form, valid while the str lives.
bool arg_str_view(PyObject* obj, const char* name, std::string_view& out);
bool arg_i64(PyObject* obj, const char* name, int64_t& out);
// An optional integer: nullptr (left out or None) leaves `out` empty.
bool arg_optional_i64(PyObject* obj, const char* name, std::optional<int64_t>& out);
bool arg_usize(PyObject* obj, const char* name, size_t& out);
bool arg_dict(PyObject* obj, const char* name);  // obj must be a dict (or subclass)

// Raises TypeError "argument '<name>': '<type>' object is not an instance of '<required>'".
void raise_not_instance(PyObject* obj, const char* name, const char* required);
// Replaces a pending TypeError by "argument '<name>': <message>", keeping its cause.
// Other exceptions pass through unchanged.
void prefix_type_error(const char* name);

// Iterates a list parameter: refuses str ("Can't extract `str` to `Vec`") and
// non-sequences (the `Sequence` check). Returns a new reference to an iterator,
// or nullptr with the exception set.
PyObject* arg_sequence_iter(PyObject* obj, const char* name);
// Next item of an iterator: 1 with a new reference in *item, 0 at the end, -1 on error.
int next_item(PyObject* iter, PyObject** item);

// Raises `type` with a UTF-8 message (undecodable bytes replaced, never an error).
void raise_text(PyObject* type, std::string_view text);

// A utf-8 view of a str (borrowed from the object), or nullptr with the error set.
const char* utf8_of(PyObject* str, Py_ssize_t* size);

}  // namespace vexlor::py
