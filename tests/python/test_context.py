import collections
import types
import uuid
from decimal import Decimal

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from py_vexlor import CompiledExpression, evaluate

X = CompiledExpression("x")
U = "123e4567-e89b-12d3-a456-426614174000"


class Text:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


class FloatOnly:
    def __float__(self):
        return 2.5

    def __str__(self):
        return "not a number"


class Index:
    def __index__(self):
        return 7


# value -> the text of the result of `x`
GOOD = [
    (1, "1"),
    (-5, "-5"),
    (0, "0"),
    (int("0"), "0"),
    (2**30 - 1, "1073741823"),
    (-(2**30 - 1), "-1073741823"),
    (2**30, "1073741824"),
    (-(2**30), "-1073741824"),
    (2**64 - 1, "18446744073709551615"),
    (True, "1"),
    (False, "0"),
    (2**63 - 1, "9223372036854775807"),
    (-(2**63), "-9223372036854775808"),
    (2**70, "1180591620717411303424"),
    (0.1, "0.1"),
    (1e16, "10000000000000000"),
    (-0.0, "0.0"),  # read through its text "-0.0"
    (1e-30, "0"),
    (2.5e-5, "0.000025"),
    (Decimal("1.50"), "1.50"),
    (Decimal("1E+3"), "1000"),
    (Decimal("-0.00"), "0.00"),
    ("1e5", "100000"),
    ("1_000", "1000"),
    ("-.5", "-0.5"),
    ("0.12345678901234567890123456789", "0.1234567890123456789012345679"),
    (Index(), "7"),
    (Text("3.25"), "3.25"),
    (FloatOnly(), "2.5"),
]


@pytest.mark.parametrize("value, text", GOOD)
def test_value_conversions(value, text):
    assert str(X.evaluate({"x": value})) == text


BAD = [
    (float("nan"), ValueError, "Invalid float value for key 'x': not finite"),
    (float("inf"), ValueError, "Invalid float value for key 'x': not finite"),
    (1e30, ValueError, "Invalid float value for key 'x': not finite"),
    (10**30, ValueError, "Invalid float value for key 'x': not finite"),
    (Decimal("NaN"), ValueError, "Invalid float value for key 'x': not finite"),
    ("abc", ValueError, "Invalid numeric string for key 'x': Invalid decimal: unknown character"),
    ("", ValueError, "Invalid numeric string for key 'x': Invalid decimal: empty"),
    (" 1", ValueError, "Invalid numeric string for key 'x': Invalid decimal: unknown character"),
    ("1.2.3", ValueError, "Invalid numeric string for key 'x': Invalid decimal: two decimal points"),
    (None, TypeError, "Unsupported value type for key 'x': expected Decimal, int, float or str"),
    ([1], TypeError, "Unsupported value type for key 'x': expected Decimal, int, float or str"),
    (Text("abc"), TypeError, "Unsupported value type for key 'x': expected Decimal, int, float or str"),
]


@pytest.mark.parametrize("value, exc, message", BAD)
def test_value_errors(value, exc, message):
    with pytest.raises(exc) as info:
        X.evaluate({"x": value})
    assert type(info.value) is exc
    assert str(info.value) == message


def test_key_errors():
    for key in (1, 1.5, None, b"x", (1,)):
        with pytest.raises(TypeError, match="^Variable keys must be UUID or str$"):
            X.evaluate({key: 1})


def test_error_names_uuid_keys_in_braced_lower_case():
    with pytest.raises(ValueError) as info:
        X.evaluate({U.upper(): "bad"})
    assert str(info.value) == "Invalid numeric string for key '{%s}': Invalid decimal: unknown character" % U


def test_uuid_keys_and_later_duplicate_wins():
    e = CompiledExpression("{%s}" % U)
    assert e.evaluate({uuid.UUID(U): 1, "{%s}" % U.upper(): 2}) == 2
    assert e.evaluate({U: 1, uuid.UUID(U): 3}) == 3


class DistinctText(str):
    """Equal texts that the dict keeps apart: both become the same name."""

    def __eq__(self, other):
        return self is other

    __hash__ = str.__hash__


def test_equal_names_from_distinct_keys_later_wins():
    assert X.evaluate({DistinctText("x"): 1, DistinctText("x"): 2}) == 2
    assert X.evaluate({"y": 0, DistinctText("x"): 1, "x": 3}) == 3


def test_uuid_subclass_key():
    class MyUUID(uuid.UUID):
        pass

    assert CompiledExpression("{%s}" % U).evaluate({MyUUID(U): 5}) == 5


def test_hex_name_key_becomes_uuid():
    name = "abcdef" * 5 + "ab"  # 32 hex digits: a valid identifier, but read as a UUID key
    with pytest.raises(RuntimeError, match="^Variable not found: " + name + "$"):
        CompiledExpression(name).evaluate({name: 1})


def test_keys_are_not_identifier_checked():
    assert X.evaluate({"a b": 1, "x": 2}) == 2


def test_mapping_types():
    assert X.evaluate(collections.OrderedDict(x=4)) == 4

    class MyDict(dict):
        pass

    assert X.evaluate(MyDict(x=5)) == 5
    with pytest.raises(TypeError, match="^argument 'vars': 'mappingproxy' object is not an instance of 'dict'$"):
        X.evaluate(types.MappingProxyType({"x": 1}))


def test_first_failing_entry_wins_in_order():
    with pytest.raises(TypeError, match="Variable keys"):
        X.evaluate({1: 1, "x": "bad"})
    with pytest.raises(ValueError, match="numeric string"):
        X.evaluate({"x": "bad", 1: 1})


def test_dict_changed_by_conversion_stops_with_an_error():
    d = {}

    class Mutator:
        def __index__(self):
            d.clear()
            d.update({"y%d" % i: i for i in range(50)})
            return 1

    d.update({"x": Mutator(), "z": 1})
    with pytest.raises(RuntimeError, match="dictionary"):
        X.evaluate(d)


def test_dict_entry_deleted_during_conversion_does_not_crash():
    d = {}

    class Deleter:
        def __str__(self):
            d.pop("x", None)
            return "1"

    d["x"] = Deleter()
    try:
        X.evaluate(d)
    except RuntimeError:
        pass


def test_gas_check_comes_before_reading_values():
    with pytest.raises(ValueError, match="^gas must be non-negative$"):
        X.evaluate({"x": object()}, gas=-1)
    with pytest.raises(ValueError, match="^gas must be non-negative$"):
        evaluate("1", {"x": object()}, gas=-1)
    with pytest.raises(ValueError, match="^Parse error: "):
        evaluate("1 +", gas=-1)


class DecimalSubclass(Decimal):
    """Read through its text like any other object with a str()."""


def _outcome(value):
    try:
        result = X.evaluate({"x": value})
        return str(result), result.as_tuple()
    except Exception as error:  # noqa: BLE001 - the outcome is compared as a whole
        return type(error), str(error)


DECIMAL_EDGES = [
    "0", "-0", "-0.000", "0E-28", "-0E-29", "1E+3", "1e-7", "0.000001", "0.0000001", "-1.5E-6",
    "79228162514264337593543950335", "79228162514264337593543950336", "-7.9228162514264337593543950335",
    "1.00000000000000000000000000001", "0.0000000000000000000000000001", "9999999999999999999",
    "10000000000000000000", "-12345678901234567890.12", "NaN", "-sNaN", "Infinity", "12.340",
]


@pytest.mark.parametrize("text", DECIMAL_EDGES)
def test_decimal_values_read_as_their_text(text):
    assert _outcome(Decimal(text)) == _outcome(DecimalSubclass(text))


@settings(max_examples=3000, deadline=None)
@given(
    st.integers(min_value=0, max_value=10**31),
    st.integers(min_value=-36, max_value=3),
    st.booleans(),
)
def test_random_decimal_values_read_as_their_text(coefficient, exponent, negative):
    text = f"{'-' if negative else ''}{coefficient}E{exponent}"
    assert _outcome(Decimal(text)) == _outcome(DecimalSubclass(text))
