import pickle
import uuid
import weakref

import pytest

from py_vexlor import CompiledExpression

U = "123e4567-e89b-12d3-a456-426614174000"


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda: CompiledExpression("1 + 2"), "CompiledExpression('1 + 2')"),
        (lambda: CompiledExpression("1 + 2", max_depth=15), "CompiledExpression('1 + 2')"),
        (lambda: CompiledExpression("1 + 2", max_depth=20), "CompiledExpression('1 + 2', max_depth=20)"),
        (lambda: CompiledExpression("'it''s'\\n" if False else "a  +  b"), "CompiledExpression('a  +  b')"),
        (lambda: CompiledExpression.from_bytecode_json(CompiledExpression("1 + 2").to_bytecode_json()),
         "<CompiledExpression (3 ops)>"),
        (lambda: CompiledExpression.from_bytecode_json("[]"), "<CompiledExpression (0 ops)>"),
    ],
)
def test_repr(make, text):
    assert repr(make()) == text


def test_repr_inserts_source_verbatim():
    e = CompiledExpression("a\n+ b")
    assert repr(e) == "CompiledExpression('a\n+ b')"


@pytest.mark.parametrize("depth", [0, -1, 1025, -(2**63)])
def test_max_depth_out_of_range(depth):
    with pytest.raises(ValueError, match="^max_depth must be between 1 and 1024$"):
        CompiledExpression("1", max_depth=depth)


def test_max_depth_range_check_comes_before_compiling():
    with pytest.raises(ValueError, match="^max_depth must be between 1 and 1024$"):
        CompiledExpression("1 +", max_depth=0)


@pytest.mark.parametrize(
    "text, depth, message",
    [
        ("1 + 2", 1, "Parse error: expression nesting depth 2 exceeds max_depth 1"),
        ("1", 1, None),
        ("f()", 1, None),
        ("(" * 40 + "1" + ")" * 40, 1024, None),
        ("+".join(["1"] * 40), 15, "Parse error: expression nesting depth 40 exceeds max_depth 15"),
        ("1 +", 15, "Parse error: Unrecognized EOF found at 3\nExpected one of NUMBER"),
    ],
)
def test_construction_depth_and_parse_errors(text, depth, message):
    if message is None:
        CompiledExpression(text, max_depth=depth)
        return
    with pytest.raises(ValueError) as info:
        CompiledExpression(text, max_depth=depth)
    assert str(info.value).startswith(message.split("\nExpected")[0])


def test_equality():
    assert CompiledExpression("1+2") == CompiledExpression("1 + 2", max_depth=3)
    assert CompiledExpression("1.0") == CompiledExpression("1")
    assert CompiledExpression("1") != CompiledExpression("2")
    assert CompiledExpression("a") != CompiledExpression("{%s}" % U)
    assert not (CompiledExpression("1") == 1)
    assert CompiledExpression("1") != 1
    assert CompiledExpression("max(1, 2)") != CompiledExpression("max(1, 2, 3)")
    with pytest.raises(TypeError):
        CompiledExpression("1") < CompiledExpression("2")
    with pytest.raises(TypeError):
        hash(CompiledExpression("1"))
    assert CompiledExpression.__hash__ is None


def test_ne_uses_reflected_comparison():
    class Always:
        def __eq__(self, other):
            return True

    assert not (CompiledExpression("1") != Always())


def test_type_properties():
    e = CompiledExpression("1")
    with pytest.raises(TypeError):
        class Sub(CompiledExpression):  # noqa: F841
            pass
    with pytest.raises(AttributeError):
        e.x = 1
    with pytest.raises(TypeError):
        weakref.ref(e)
    assert CompiledExpression.__module__ == "py_vexlor._lib"
    assert CompiledExpression.__qualname__ == "CompiledExpression"
    assert CompiledExpression.__bases__ == (object,)


@pytest.mark.parametrize(
    "text, names",
    [
        ("b + a + a", ["a", "b"]),
        ("1 + 2", []),
        ("x > 0 ? y : z", ["x", "y", "z"]),
        ("{%s} + zeta + _a + A" % U, ["A", "_a", "zeta", "{%s}" % U]),
        ("max(q, f(r))", ["q", "r"]),
    ],
)
def test_variables(text, names):
    assert CompiledExpression(text).variables() == names


def test_variables_of_upper_case_uuid_from_json():
    e = CompiledExpression.from_bytecode_json('[{"LoadVar":{"Uuid":"%s"}}]' % U.upper())
    assert e.variables() == ["{%s}" % U]


@pytest.mark.parametrize(
    "e",
    [
        CompiledExpression("1 + 2"),
        CompiledExpression("a * 1.50 - {%s}" % U, max_depth=30),
        CompiledExpression.from_bytecode_json('[{"PushConst":"-0"}]'),
        CompiledExpression("x > 0 ? max(x, 2) : -x ^ 2"),
    ],
)
def test_pickle_round_trip(e):
    clone = pickle.loads(pickle.dumps(e))
    assert clone == e
    assert repr(clone) == repr(e)
    assert clone.to_bytecode_json() == e.to_bytecode_json()


def test_reduce_shape():
    e = CompiledExpression("1 + 2", max_depth=7)
    fn, args, state = e.__reduce__()
    assert fn == CompiledExpression.from_bytecode_json
    assert args == ('[{"PushConst":"1"},{"PushConst":"2"},"Add"]',)
    assert state == ("1 + 2", 7)


def test_setstate():
    e = CompiledExpression("1 + 2")
    assert e.__setstate__((None, 7)) is None
    assert repr(e) == "<CompiledExpression (3 ops)>"
    e.__setstate__(("x", 2000))
    assert repr(e) == "CompiledExpression('x', max_depth=2000)"
    assert e.evaluate() == 3  # the code is never recompiled


def test_failed_setstate_changes_nothing():
    e = CompiledExpression("1 + 2", max_depth=9)
    with pytest.raises(TypeError):
        e.__setstate__((1, 3))
    assert repr(e) == "CompiledExpression('1 + 2', max_depth=9)"


def test_uuid_variable_key_forms():
    e = CompiledExpression("{%s} * 2" % U)
    u = uuid.UUID(U)
    for key in (u, U, U.upper(), "{%s}" % U.upper(), "urn:uuid:" + U, U.replace("-", "")):
        assert e.evaluate({key: 21}) == 42
