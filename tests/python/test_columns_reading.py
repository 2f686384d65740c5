"""How Arrow input is read: float32 values, and tables with a column named twice."""

from decimal import Decimal

import pytest

from py_vexlor import evaluate, evaluate_columns

pa = pytest.importorskip("pyarrow")
np = pytest.importorskip("numpy")


def test_float32_reads_as_its_shortest_text():
    rng = np.random.default_rng(5)
    groups = [rng.uniform(-1e6, 1e6, 1000), 10 ** rng.uniform(-12, 0, 500), 10 ** rng.uniform(0, 24, 500),
              [0.1, 0.3, -2.5, 1e16, 1e15, 16777216, 1e-4, 0.0, -0.0, 3.4028235e38], [1e-45, 1.5e-30]]
    expression = "a * 3 - 1"
    for group in groups:  # apart: one result type holds the rows of each
        values = np.array(group, dtype=np.float32)
        got = evaluate_columns(expression, pa.table({"a": pa.array(values)}), errors="null").to_pylist()
        for value, row in zip(values, got):
            # Shortest float32 digits; as a float64 they print the same (at most 9 significant digits).
            text = repr(float(np.format_float_scientific(value, unique=True)))
            try:
                want = evaluate(expression, {"a": float(text)})
            except (ArithmeticError, ValueError, RuntimeError):
                want = None
            assert row == want, (value, text)
    assert evaluate_columns("a", pa.table({"a": pa.array([0.1], pa.float32())})).to_pylist() == [Decimal("0.1")]


def test_a_column_named_twice_is_refused_when_read():
    table = pa.Table.from_arrays([pa.array([1, 2]), pa.array([3, 4]), pa.array([5, 6])], names=["a", "b", "a"])
    with pytest.raises(ValueError, match="duplicate column 'a'"):
        evaluate_columns("a + b", table)
    assert evaluate_columns("b + 1", table).to_pylist() == [4, 5]  # not read: no matter
