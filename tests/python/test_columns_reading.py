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


class _Producer:
    """A table exported by hand through the Arrow C data interface (a struct of int64 columns)."""

    def __init__(self, length, columns):
        import ctypes as c

        release_t = c.CFUNCTYPE(None, c.c_void_p)

        class Schema(c.Structure):
            pass

        Schema._fields_ = [("format", c.c_char_p), ("name", c.c_char_p), ("metadata", c.c_char_p),
                           ("flags", c.c_int64), ("n_children", c.c_int64), ("children", c.POINTER(c.POINTER(Schema))),
                           ("dictionary", c.c_void_p), ("release", release_t), ("private_data", c.c_void_p)]

        class Array(c.Structure):
            pass

        Array._fields_ = [("length", c.c_int64), ("null_count", c.c_int64), ("offset", c.c_int64),
                          ("n_buffers", c.c_int64), ("n_children", c.c_int64), ("buffers", c.POINTER(c.c_void_p)),
                          ("children", c.POINTER(c.POINTER(Array))), ("dictionary", c.c_void_p),
                          ("release", release_t), ("private_data", c.c_void_p)]

        def releaser(struct):  # the reader's copy is marked released; nothing here is freed
            def release(pointer):
                if pointer:
                    c.c_void_p.from_address(pointer + struct.release.offset).value = None
            return release_t(release)

        self._keep = [releaser(Array), releaser(Schema)]
        values = (c.c_int64 * 8)(*range(8))
        fields, arrays = [], []
        for name, fmt, rows, null_count in columns:
            buffers = (c.c_void_p * 2)(None, c.addressof(values))
            fields.append(Schema(fmt, name, None, 2, 0, None, None, self._keep[1], None))
            arrays.append(Array(rows, null_count, 0, 2, 0, buffers, None, None, self._keep[0], None))
            self._keep += [buffers]
        field_ptrs = (c.POINTER(Schema) * len(fields))(*[c.pointer(f) for f in fields])
        array_ptrs = (c.POINTER(Array) * len(arrays))(*[c.pointer(a) for a in arrays])
        no_bitmap = (c.c_void_p * 1)(None)
        self._schema = Schema(b"+s", b"", None, 0, len(fields), field_ptrs, None, self._keep[1], None)
        self._array = Array(length, 0, 0, 1, len(arrays), no_bitmap, array_ptrs, None, self._keep[0], None)
        self._keep += [values, fields, arrays, field_ptrs, array_ptrs, no_bitmap]
        new = c.pythonapi.PyCapsule_New
        new.restype, new.argtypes = c.py_object, [c.c_void_p, c.c_char_p, c.c_void_p]
        self._capsules = (new(c.addressof(self._schema), b"arrow_schema", None),
                          new(c.addressof(self._array), b"arrow_array", None))

    def __arrow_c_array__(self, requested_schema=None):
        return self._capsules


@pytest.mark.parametrize("length, columns, error, text", [
    (3, [(b"a", b"l", 3, 0), (b"b\xff", b"l", 2, 0)], ValueError, r"batch of 3 rows .* column 'b\\xff' has 2"),
    (3, [(b"a", b"l", 3, 1)], ValueError, "1 nulls but no validity bitmap"),
    (3, [(b"a", b"\xfe", 3, 0)], TypeError, r"Arrow format '\\xfe'"),
])
def test_malformed_tables_are_value_errors_with_escaped_text(length, columns, error, text):
    with pytest.raises(error, match=text):
        evaluate_columns("a + 1", _Producer(length, columns))
    assert evaluate_columns("a + 1", _Producer(2, [(b"a", b"l", 2, 0)])).to_pylist() == [1, 2]
