import pytest

import py_vexlor._lib as m
from py_vexlor import CompiledExpression

E = CompiledExpression("1")

# (callable, args, kwargs, exception type, exact message)
CASES = [
    (m.evaluate, (), {}, TypeError, "evaluate() missing 1 required positional argument: 'expression'"),
    (m.evaluate, ("1", None, None, None, 5), {}, TypeError,
     "evaluate() takes from 1 to 4 positional arguments but 5 were given"),
    (m.evaluate, ("1",), {"x": 1}, TypeError, "evaluate() got an unexpected keyword argument 'x'"),
    (m.evaluate, ("1",), {"expression": "2"}, TypeError, "evaluate() got multiple values for argument 'expression'"),
    (m.evaluate, (1,), {}, TypeError, "argument 'expression': 'int' object is not an instance of 'str'"),
    (m.evaluate, (None,), {}, TypeError, "argument 'expression': 'None' is not an instance of 'str'"),
    (m.evaluate, ("1", []), {}, TypeError, "argument 'vars': 'list' object is not an instance of 'dict'"),
    (m.evaluate, ("1", [], 1.5), {}, TypeError, "argument 'vars': 'list' object is not an instance of 'dict'"),
    (m.evaluate, ("1", None, 1.5), {}, TypeError,
     "argument 'gas': 'float' object cannot be interpreted as an integer"),
    (m.evaluate, ("1", None, "x", 1.5), {}, TypeError,
     "argument 'gas': 'str' object cannot be interpreted as an integer"),
    (m.evaluate, ("1",), {"max_depth": 2.0}, TypeError,
     "argument 'max_depth': 'float' object cannot be interpreted as an integer"),
    (m.evaluate_batch, ("1 + 2",), {}, TypeError, "argument 'expressions': Can't extract `str` to `Vec`"),
    (m.evaluate_batch, (1,), {}, TypeError, "argument 'expressions': 'int' object is not an instance of 'Sequence'"),
    (m.evaluate_batch, ({"e": E},), {}, TypeError,
     "argument 'expressions': 'dict' object is not an instance of 'Sequence'"),
    (m.evaluate_batch, ([1],), {}, TypeError,
     "argument 'expressions': 'int' object is not an instance of 'CompiledExpression'"),
    (m.evaluate_batch, ([E, None],), {}, TypeError,
     "argument 'expressions': 'None' is not an instance of 'CompiledExpression'"),
    (m.evaluate_batch, (), {}, TypeError, "evaluate_batch() missing 1 required positional argument: 'expressions'"),
    (m.evaluate_batch, ([], None, None, None), {}, TypeError,
     "evaluate_batch() takes from 1 to 3 positional arguments but 4 were given"),
    (CompiledExpression, (), {}, TypeError,
     "CompiledExpression.__new__() missing 1 required positional argument: 'expression'"),
    (CompiledExpression, ("1",), {"depth": 3}, TypeError,
     "CompiledExpression.__new__() got an unexpected keyword argument 'depth'"),
    (CompiledExpression, (12,), {}, TypeError, "argument 'expression': 'int' object is not an instance of 'str'"),
    (CompiledExpression, ("1", 2, 3), {}, TypeError,
     "CompiledExpression.__new__() takes from 1 to 2 positional arguments but 3 were given"),
    (CompiledExpression, ("1",), {"max_depth": 2**63}, OverflowError, None),
    (E.evaluate, (None, None, None), {}, TypeError,
     "CompiledExpression.evaluate() takes from 0 to 2 positional arguments but 3 were given"),
    (E.evaluate, (), {"vars": None, "bogus": 1}, TypeError,
     "CompiledExpression.evaluate() got an unexpected keyword argument 'bogus'"),
    (E.evaluate, ({},), {"vars": {}}, TypeError,
     "CompiledExpression.evaluate() got multiple values for argument 'vars'"),
    (E.evaluate, (), {"gas": 2**64}, OverflowError, None),
    (E.__setstate__, (), {}, TypeError,
     "CompiledExpression.__setstate__() missing 1 required positional argument: 'state'"),
    (E.__setstate__, ((None, 1), 2), {}, TypeError,
     "CompiledExpression.__setstate__() takes 1 positional arguments but 2 were given"),
    (E.__setstate__, ([None, 1],), {}, TypeError, "argument 'state': 'list' object is not an instance of 'tuple'"),
    (E.__setstate__, ((None,),), {}, ValueError, "expected tuple of length 2, but got tuple of length 1"),
    (E.__setstate__, ((1, 1),), {}, TypeError, "argument 'state': 'int' object is not an instance of 'str'"),
    (E.__setstate__, ((None, -1),), {}, OverflowError, None),
    (E.__setstate__, ((None, 1.0),), {}, TypeError,
     "argument 'state': 'float' object cannot be interpreted as an integer"),
    (CompiledExpression.from_bytecode_json, (), {}, TypeError,
     "CompiledExpression.from_bytecode_json() missing 1 required positional argument: 'json_str'"),
    (CompiledExpression.from_bytecode_json, (b"[]",), {}, TypeError,
     "argument 'json_str': 'bytes' object is not an instance of 'str'"),
    (CompiledExpression.from_bytecode_json_batch, ("[]",), {}, TypeError,
     "argument 'json_strs': Can't extract `str` to `Vec`"),
    (CompiledExpression.from_bytecode_json_batch, (["[]", 1],), {}, TypeError,
     "argument 'json_strs': 'int' object is not an instance of 'str'"),
    (CompiledExpression.from_bytecode_json_batch, ({"[]"},), {}, TypeError,
     "argument 'json_strs': 'set' object is not an instance of 'Sequence'"),
    (CompiledExpression.from_bytecode_json_batch, ((x for x in ["[]"]),), {}, TypeError,
     "argument 'json_strs': 'generator' object is not an instance of 'Sequence'"),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, message", CASES)
def test_binding_errors(fn, args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_two_positionals_for_one_parameter():
    with pytest.raises(TypeError) as info:
        CompiledExpression.from_bytecode_json("[]", "x")
    assert str(info.value) == "CompiledExpression.from_bytecode_json() takes 1 positional arguments but 2 were given"


def test_explicit_none_is_the_same_as_omitted():
    assert m.evaluate("1", None, None, None) == m.evaluate("1")
    assert E.evaluate(vars=None, gas=None) == E.evaluate()


def test_keywords_and_index_objects_bind():
    class Index:
        def __index__(self):
            return 20

    assert repr(CompiledExpression(expression="1 + 2", max_depth=Index())) == "CompiledExpression('1 + 2', max_depth=20)"
    assert m.evaluate(max_depth=3, expression="x", vars={"x": 2}, gas=Index()) == m.evaluate("2")


def test_type_error_cause_is_kept():
    class Bad:
        def __index__(self):
            raise TypeError("nope") from KeyError("root")

    with pytest.raises(TypeError) as info:
        m.evaluate("1", gas=Bad())
    assert str(info.value) == "argument 'gas': nope"
    assert isinstance(info.value.__cause__, KeyError)


def test_non_type_errors_pass_through_unchanged():
    class Bad:
        def __index__(self):
            raise ValueError("boom")

    with pytest.raises(ValueError, match="^boom$"):
        m.evaluate("1", gas=Bad())
    with pytest.raises(UnicodeEncodeError):
        CompiledExpression("\ud800")
