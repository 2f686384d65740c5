import importlib.metadata
import inspect

import pytest

import py_vexlor
import py_vexlor._lib as m
from py_vexlor import CompiledExpression, GasExhaustedError


def test_module_attributes():
    assert m.__all__ == ["evaluate", "evaluate_batch", "CompiledExpression", "GasExhaustedError"]
    assert m.__doc__ == ""
    assert m.__name__ == "py_vexlor._lib"


def test_package_reexports_the_module_objects():
    for name in m.__all__:
        assert getattr(py_vexlor, name) is getattr(m, name)


def test_version_is_the_installed_one():
    try:
        installed = importlib.metadata.version("py_vexlor")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("py_vexlor is not installed (run from a build folder)")
    assert py_vexlor.__version__ == installed


def test_gas_exhausted_error_type():
    assert issubclass(GasExhaustedError, RuntimeError)
    assert GasExhaustedError.__module__ == "py_vexlor._lib"
    assert GasExhaustedError.__name__ == "GasExhaustedError"
    assert GasExhaustedError.__qualname__ == "GasExhaustedError"
    assert GasExhaustedError.__doc__ == "Raised when an evaluation exceeds its gas limit."
    assert GasExhaustedError.__bases__ == (RuntimeError,)


def test_functions_are_bound_to_the_module():
    for fn in (m.evaluate, m.evaluate_batch):
        assert fn.__self__ is m
        assert fn.__module__ == "py_vexlor._lib"


@pytest.mark.parametrize(
    "obj, signature",
    [
        (m.evaluate, "(expression, vars=None, gas=None, max_depth=None)"),
        (m.evaluate_batch, "(expressions, vars=None, gas=None)"),
        (CompiledExpression, "(expression, max_depth=None)"),
        (CompiledExpression.evaluate, "(self, /, vars=None, gas=None)"),
        (CompiledExpression.variables, "(self, /)"),
        (CompiledExpression.to_bytecode_json, "(self, /)"),
        (CompiledExpression.__reduce__, "(self, /)"),
        (CompiledExpression.__setstate__, "(self, /, state)"),
        (CompiledExpression.from_bytecode_json, "(json_str)"),
        (CompiledExpression.from_bytecode_json_batch, "(json_strs)"),
    ],
)
def test_signatures(obj, signature):
    assert str(inspect.signature(obj)) == signature


@pytest.mark.parametrize(
    "obj, first_line",
    [
        (m.evaluate, "Compile and evaluate an expression in one step."),
        (m.evaluate_batch, "Evaluate many compiled expressions against a single set of variables."),
        (CompiledExpression, "A compiled math expression evaluated with exact `Decimal` arithmetic."),
        (CompiledExpression.evaluate, "Evaluate the compiled expression."),
        (CompiledExpression.variables, "Return the sorted, unique variable names used by the expression."),
        (CompiledExpression.to_bytecode_json, "Serialize the compiled bytecode to a JSON string."),
        (CompiledExpression.from_bytecode_json, "Rebuild a compiled expression from JSON produced by"),
        (CompiledExpression.from_bytecode_json_batch, "Rebuild many compiled expressions from JSON strings in one call."),
    ],
)
def test_docstrings(obj, first_line):
    assert obj.__doc__.splitlines()[0] == first_line


def test_empty_docstrings_are_none():
    assert CompiledExpression.__reduce__.__doc__ is None
    assert CompiledExpression.__setstate__.__doc__ is None


def test_docstring_examples_run():
    import doctest

    for obj in (m.evaluate, m.evaluate_batch, CompiledExpression, CompiledExpression.evaluate,
                CompiledExpression.variables, CompiledExpression.to_bytecode_json,
                CompiledExpression.from_bytecode_json, CompiledExpression.from_bytecode_json_batch):
        globs = {"CompiledExpression": CompiledExpression, "py_vexlor": py_vexlor}
        finder = doctest.DocTestFinder(recurse=False)
        runner = doctest.DocTestRunner()
        for test in finder.find(obj, "example", globs=globs):
            runner.run(test)
        assert runner.failures == 0, obj
