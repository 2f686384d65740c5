import pytest

from py_vexlor import CompiledExpression

U = "123e4567-e89b-12d3-a456-426614174000"


@pytest.mark.parametrize(
    "text, json",
    [
        ("1 + 2", '[{"PushConst":"1"},{"PushConst":"2"},"Add"]'),
        ("x > 0 ? 1 : 2", '[{"LoadVar":{"Name":"x"}},{"PushConst":"0"},"Gt",{"JumpIfFalse":6},'
                          '{"PushConst":"1"},{"Jump":7},{"PushConst":"2"}]'),
        ("max(1.50, {%s})" % U, '[{"PushConst":"1.50"},{"LoadVar":{"Uuid":"%s"}},{"Call":["max",2]}]' % U),
    ],
)
def test_to_bytecode_json(text, json):
    assert CompiledExpression(text).to_bytecode_json() == json


def test_round_trip():
    e = CompiledExpression("1 + 2")
    clone = CompiledExpression.from_bytecode_json(e.to_bytecode_json())
    assert clone == e
    assert clone.evaluate() == 3
    assert repr(clone) == "<CompiledExpression (3 ops)>"


@pytest.mark.parametrize(
    "text, message",
    [
        ("not json", "expected ident at line 1 column 2"),
        ("x", "expected value at line 1 column 1"),
        ("", "EOF while parsing a value at line 1 column 0"),
        ("[] x", "trailing characters at line 1 column 4"),
        ('["add"]', "unknown variant `add`, expected one of `PushConst`, `LoadVar`, `Add`, `Sub`, `Mul`, `Div`, "
                    "`FloorDiv`, `Mod`, `Pow`, `Neg`, `Pos`, `Not`, `And`, `Or`, `Eq`, `Ne`, `Lt`, `Le`, `Gt`, "
                    "`Ge`, `Jump`, `JumpIfFalse`, `Call` at line 1 column 6"),
    ],
)
def test_reader_errors(text, message):
    with pytest.raises(ValueError) as info:
        CompiledExpression.from_bytecode_json(text)
    assert str(info.value) == message


def test_batch():
    good = CompiledExpression("1 + 2").to_bytecode_json()
    clones = CompiledExpression.from_bytecode_json_batch([good, good])
    assert [c.evaluate() for c in clones] == [3, 3]
    assert clones[0] is not clones[1]
    assert CompiledExpression.from_bytecode_json_batch(()) == []
    assert len(CompiledExpression.from_bytecode_json_batch((good,))) == 1
    with pytest.raises(ValueError, match="^expected value at line 1 column 1$"):
        CompiledExpression.from_bytecode_json_batch([good, "x", good])


def test_accepted_but_failing_programs():
    e = CompiledExpression.from_bytecode_json('[{"PushConst":"1"},{"Call":["nope",1]},{"Jump":99}]')
    with pytest.raises(RuntimeError, match="^Function not found: nope$"):
        e.evaluate()
