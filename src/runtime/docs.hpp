#pragma once
// Docstrings: a signature line, "--" and an empty line, then the body.

namespace vexlor::py::doc {

inline constexpr const char COMPILED_EXPRESSION[] =
    "CompiledExpression(expression, max_depth=None)\n"
    "--\n"
    "\n"
    "A compiled math expression evaluated with exact `Decimal` arithmetic.\n"
    "\n"
    "The expression is compiled once; the resulting bytecode can then be\n"
    "evaluated repeatedly with different variables and gas limits.\n"
    "\n"
    "Create with `CompiledExpression(expression, max_depth=None)`, where\n"
    "`max_depth` bounds expression nesting depth (1..=1024, default 15).\n"
    "Raises `ValueError` on parse failure, exceeded depth or out-of-range\n"
    "`max_depth`.\n"
    "\n"
    "Example:\n"
    "    >>> from py_vexlor import CompiledExpression\n"
    "    >>> expr = CompiledExpression(\"a + b * 2\")\n"
    "    >>> expr.evaluate({\"a\": 1, \"b\": 5})\n"
    "    Decimal('11')";

inline constexpr const char VARIABLES[] =
    "variables($self)\n"
    "--\n"
    "\n"
    "Return the sorted, unique variable names used by the expression.\n"
    "\n"
    "UUID variables appear in canonical braced form `\"{...}\"` and can be\n"
    "used directly as keys in `evaluate()`.\n"
    "\n"
    "Example:\n"
    "    >>> CompiledExpression(\"b + a + a\").variables()\n"
    "    ['a', 'b']";

inline constexpr const char REDUCE[] =
    "__reduce__($self)\n"
    "--\n"
    "\n"
    "";

inline constexpr const char SETSTATE[] =
    "__setstate__($self, state)\n"
    "--\n"
    "\n"
    "";

inline constexpr const char METHOD_EVALUATE[] =
    "evaluate($self, vars=None, gas=None)\n"
    "--\n"
    "\n"
    "Evaluate the compiled expression.\n"
    "\n"
    "Args:\n"
    "    vars: Mapping of variable names (or `\"{uuid}\"` keys) to values\n"
    "        (`Decimal`, `int`, `float` or numeric `str`).\n"
    "    gas: Optional gas limit. Light operations cost 1, arithmetic and\n"
    "        function calls cost 3, `a ^ b` costs 1 + ceil(|b|).\n"
    "\n"
    "Returns:\n"
    "    The result as a `decimal.Decimal`.\n"
    "\n"
    "Raises:\n"
    "    GasExhaustedError: If the gas limit is exceeded.\n"
    "    ZeroDivisionError: On division by zero.\n"
    "    OverflowError: On decimal overflow.\n"
    "    RuntimeError: If a variable is not found.\n"
    "    ValueError: If `gas` is negative.\n"
    "\n"
    "Example:\n"
    "    >>> expr = CompiledExpression(\"a + b * 2\")\n"
    "    >>> expr.evaluate({\"a\": 1, \"b\": 5}, gas=100)\n"
    "    Decimal('11')";

inline constexpr const char EVALUATE[] =
    "evaluate(expression, vars=None, gas=None, max_depth=None)\n"
    "--\n"
    "\n"
    "Compile and evaluate an expression in one step.\n"
    "\n"
    "Shortcut for `CompiledExpression(expression, max_depth).evaluate(vars,\n"
    "gas)`; the compiled form is not retained.\n"
    "\n"
    "Example:\n"
    "    >>> import py_vexlor\n"
    "    >>> py_vexlor.evaluate(\"2 ^ 10\")\n"
    "    Decimal('1024')";

inline constexpr const char EVALUATE_BATCH[] =
    "evaluate_batch(expressions, vars=None, gas=None)\n"
    "--\n"
    "\n"
    "Evaluate many compiled expressions against a single set of variables.\n"
    "\n"
    "Builds the variable context once, then runs every expression in one\n"
    "call, releasing the GIL for the whole batch. Semantics match calling\n"
    "`.evaluate(vars, gas)` on each expression in order; the first failing\n"
    "expression raises and discards the whole batch.\n"
    "\n"
    "Args:\n"
    "    expressions: A list of `CompiledExpression` objects.\n"
    "    vars: Variables shared by all expressions.\n"
    "    gas: Gas limit renewed for each expression.\n"
    "\n"
    "Raises:\n"
    "    GasExhaustedError: If any expression exceeds `gas`.\n"
    "    RuntimeError: If any expression fails (e.g. unknown variable).\n"
    "    ValueError: If `gas` is negative.\n"
    "\n"
    "Example:\n"
    "    >>> exprs = [CompiledExpression(\"a + 1\"), CompiledExpression(\"a * 2\")]\n"
    "    >>> py_vexlor.evaluate_batch(exprs, {\"a\": 2})\n"
    "    [Decimal('3'), Decimal('4')]";

inline constexpr const char TO_BYTECODE_JSON[] =
    "to_bytecode_json($self)\n"
    "--\n"
    "\n"
    "Serialize the compiled bytecode to a JSON string.\n"
    "\n"
    "Example:\n"
    "    >>> CompiledExpression(\"1 + 2\").to_bytecode_json()\n"
    "    '[{\"PushConst\":\"1\"},{\"PushConst\":\"2\"},\"Add\"]'";

inline constexpr const char FROM_BYTECODE_JSON[] =
    "from_bytecode_json($cls, json_str)\n"
    "--\n"
    "\n"
    "Rebuild a compiled expression from JSON produced by\n"
    "`to_bytecode_json()`.\n"
    "\n"
    "The original source is not retained, so `repr()` falls back to an\n"
    "op count and `max_depth` resets to the default.\n"
    "\n"
    "Raises:\n"
    "    ValueError: If the JSON does not match the bytecode schema.\n"
    "\n"
    "Example:\n"
    "    >>> expr = CompiledExpression(\"1 + 2\")\n"
    "    >>> clone = CompiledExpression.from_bytecode_json(\n"
    "    ...     expr.to_bytecode_json())\n"
    "    >>> clone.evaluate()\n"
    "    Decimal('3')";

inline constexpr const char FROM_BYTECODE_JSON_BATCH[] =
    "from_bytecode_json_batch($cls, json_strs)\n"
    "--\n"
    "\n"
    "Rebuild many compiled expressions from JSON strings in one call.\n"
    "\n"
    "Equivalent to calling `from_bytecode_json()` on each string, but\n"
    "parses the whole list in a single GIL-free pass. The first invalid\n"
    "JSON raises `ValueError` and discards the whole batch. Rebuilt\n"
    "objects have no source (see `from_bytecode_json()`).\n"
    "\n"
    "Args:\n"
    "    json_strs: JSON strings produced by `to_bytecode_json()`.\n"
    "\n"
    "Raises:\n"
    "    ValueError: If any JSON does not match the bytecode schema.\n"
    "\n"
    "Example:\n"
    "    >>> expr = CompiledExpression(\"1 + 2\")\n"
    "    >>> clones = CompiledExpression.from_bytecode_json_batch(\n"
    "    ...     [expr.to_bytecode_json()])\n"
    "    >>> clones[0].evaluate()\n"
    "    Decimal('3')";

}  // namespace vexlor::py::doc
