"""evaluate_columns against `evaluate` row by row, the Arrow round trips, and bad input."""

import gc
import random
import uuid
from decimal import ROUND_HALF_EVEN, Decimal, localcontext

import pytest

import py_vexlor
from py_vexlor import CompiledExpression, GasExhaustedError, evaluate, evaluate_columns

pa = pytest.importorskip("pyarrow")

FORMULAS = [
    "a + b * 2",
    "a / b",
    "a // b % 3 - c",
    "max(a, b) > 10 ? 1 : 0",
    "round(max(a, b) * 1.07, 2)",
    "c ? a : b",
    "a ^ 2 + sqrt(abs(b))",
    "average(a, b, c) == a and not c",
    "a * b * c * 1000000000000",
]
GAS = [None, None, 0, 4, 9, 30]

INTS = [0, 1, -1, 2, 7, 12, 127, -128]
DECIMALS = ["0", "1.10", "-2.50", "0.000001", "12345678901234.56", "-0.01", "79228162514264337593543950335",
            "7922816251426433759354395033.5", "1E-8", "99999999999999999999999999999999999999"]
FLOATS = [0.0, -0.0, 0.1, 2.5, -7.25, 1e16, 1.5e-05, 1e-30, 1e30, float("nan"), float("inf"), 123.0, 3.4e38]
STRINGS = ["1", "-2.5", "1e5", "1_000", "abc", "", " 1", "0.1e1", "1e40", "12.345678901234567890123456789"]


def column(rng, n):
    """A random column: its Arrow type and values (None: null)."""
    kind = rng.choice(["int8", "int64", "uint64", "float32", "float64", "dec18", "dec38", "dec9_32", "dec18_64",
                       "utf8", "large_utf8", "string_view", "dict_utf8", "dict_dec", "bool", "py"])
    def pick(pool):
        return [None if rng.random() < 0.15 else rng.choice(pool) for _ in range(n)]
    if kind == "int8":
        return pa.int8(), pick(INTS)
    if kind == "int64":
        return pa.int64(), pick(INTS + [2**63 - 1, -2**63, 10**15])
    if kind == "uint64":
        return pa.uint64(), pick([0, 3, 2**64 - 1, 2**63])
    if kind in ("float32", "float64"):
        return (pa.float32() if kind == "float32" else pa.float64()), pick(FLOATS)
    if kind == "bool":
        return pa.bool_(), pick([True, False])
    if kind in ("utf8", "large_utf8", "string_view", "dict_utf8"):
        t = {"utf8": pa.utf8(), "large_utf8": pa.large_utf8(), "string_view": pa.string_view(),
             "dict_utf8": pa.dictionary(pa.int16(), pa.utf8())}[kind]
        return t, pick(STRINGS + ["123456789012345.678"])
    if kind == "py":
        return None, pick(INTS + FLOATS + STRINGS + [Decimal("1.50"), 2**70, [1], "\ud800"])
    precision, scale, t = {
        "dec18": (18, 2, None), "dec38": (38, 10, None), "dec9_32": (9, 3, "32"), "dec18_64": (18, 0, "64"),
        "dict_dec": (38, 1, "dict")}[kind]
    with localcontext(prec=80):
        pool = [Decimal(t).quantize(Decimal(1).scaleb(-scale)) for t in DECIMALS
                if abs(Decimal(t)) < 10 ** (precision - scale)]
    arrow_type = {None: pa.decimal128, "32": pa.decimal32, "64": pa.decimal64,
                  "dict": lambda p, s: pa.dictionary(pa.int32(), pa.decimal128(p, s))}[t](precision, scale)
    return arrow_type, pick(pool)


def arrow_array(arrow_type, values):
    if pa.types.is_dictionary(arrow_type):
        return pa.array(values, arrow_type.value_type).dictionary_encode()
    return pa.array(values, arrow_type)


def outcome(call):
    try:
        return call()
    except Exception as e:  # noqa: BLE001 - every outcome is compared
        return (type(e), str(e))


def expected_rows(expr, columns, gas):
    """Each row evaluated alone; a row that reads a null value is None."""
    names = expr.variables()
    rows = []
    for i in range(len(next(iter(columns.values())))):
        nulls = {k for k in names if columns[k][i] is None}
        row = {k: columns[k][i] for k in names if k not in nulls}
        got = outcome(lambda: expr.evaluate(row, gas))
        if isinstance(got, tuple) and got[0] is RuntimeError and got[1].removeprefix("Variable not found: ") in nulls:
            got = None
        rows.append(got)
    return rows


@pytest.mark.parametrize("seed", range(12))
def test_rows_match_evaluate(seed):
    rng = random.Random(seed)
    n = rng.choice([1, 5, 1500, 2100])
    expr = CompiledExpression(rng.choice(FORMULAS))
    gas = rng.choice(GAS)
    columns, arrays = {}, {}
    for name in ("a", "b", "c"):
        arrow_type, values = column(rng, n)
        if arrow_type is None:
            columns[name] = arrays[name] = values
        else:
            arr = arrow_array(arrow_type, values)
            columns[name] = arr.to_pylist()
            arrays[name] = arr
    if all(not isinstance(a, list) for a in arrays.values()):
        # a table in several chunks, and a slice that starts inside one
        table = pa.table(arrays)
        table = pa.concat_tables([table.slice(0, n // 3), table.slice(n // 3)])
        a = table["a"].combine_chunks()
        cuts = [0, n // 5, n // 2, n]  # chunks of a that end elsewhere than those of b and c
        mapping = {"a": pa.chunked_array([a.slice(i, j - i) for i, j in zip(cuts, cuts[1:])], a.type),
                   "b": table["b"].combine_chunks(), "c": table["c"]}
        sources = [table, mapping]
    else:
        sources = [arrays]
    want = expected_rows(expr, columns, gas)
    values = [w for w in want if isinstance(w, Decimal)]
    most = max((-v.as_tuple().exponent for v in values), default=0)
    scale = None
    if any(abs(v.scaleb(most)) >= 10**38 for v in values):
        exact = evaluate_columns(expr, sources[0], gas=gas, errors="null")  # each row kept exactly
        assert [str(g) for g in exact] == [str(w) if not isinstance(w, tuple) else "None" for w in want]
        with pytest.raises(OverflowError, match="scale="):
            pa.array(exact)  # no decimal128(38, S) holds them all
        scale = 0
        want = [w.quantize(Decimal(1), ROUND_HALF_EVEN) if isinstance(w, Decimal) and w.as_tuple().exponent < 0
                else w for w in want]
    for data in sources:
        for threads in (1, 4):
            got = evaluate_columns(expr, data, gas=gas, errors="null", scale=scale, threads=threads).to_pylist()
            assert [str(g) for g in got] == [str(w) if not isinstance(w, tuple) else "None" for w in want]
            first = next(((i, w) for i, w in enumerate(want) if isinstance(w, tuple)), None)
            if first is None:
                continue
            with pytest.raises(first[1][0]) as info:
                evaluate_columns(expr, data, gas=gas, threads=threads)
            assert (type(info.value), str(info.value)) == first[1]
            assert info.value.__notes__ == [f"raised by row {first[0]} (rows counted from 0)"]


def test_arrow_result_scale_and_overflow():
    t = pa.table({"x": pa.array([Decimal("1.5"), Decimal("-2.125"), None], pa.decimal128(10, 3))})
    r = evaluate_columns("x * 2", t)
    assert (r.type, len(r), r.null_count) == ("decimal128(38, 3)", 3, 1)
    assert pa.array(r).to_pylist() == [Decimal("3.000"), Decimal("-4.250"), None]
    assert r.to_pylist() == [Decimal("3.000"), Decimal("-4.250"), None]
    assert [str(v) for v in r.to_pylist()[:2]] == ["3.000", "-4.250"]
    assert evaluate_columns("x", t, scale=2).to_pylist()[:2] == [Decimal("1.500"), Decimal("-2.12")]
    assert pa.array(evaluate_columns("x", t, scale=0)).to_pylist() == [Decimal(2), Decimal(-2), None]
    big = {"x": [Decimal("79228162514264337593543950335"), Decimal("0.0000000000000000000000000001")]}
    with pytest.raises(OverflowError, match="scale="):
        pa.array(evaluate_columns("x", big))
    assert evaluate_columns("x", big, scale=0).to_pylist() == [Decimal("79228162514264337593543950335"), Decimal("0")]
    assert evaluate_columns("x", {"x": []}).to_pylist() == []


def test_names_uuids_and_unused_columns():
    u = uuid.UUID("6ba7b810-9dad-11d1-80b4-00c04fd430c8")
    expr = CompiledExpression("{%s} + a" % u)

    class Unreadable:
        def __arrow_c_array__(self, requested_schema=None):
            raise AssertionError("an unused column was read")

    want = [Decimal(11), Decimal(22)]
    for key in (u, str(u).upper(), u.hex, "{%s}" % u, u.urn):
        assert evaluate_columns(expr, {key: [10, 20], "a": [1, 2], "unused": Unreadable()}).to_pylist() == want
    table = pa.table({str(u): [10, 20], "a": [1, 2], "unused": ["x", "y"]})
    assert evaluate_columns(expr, table).to_pylist() == want
    with pytest.raises(RuntimeError, match=r"^Variable not found: a$"):
        evaluate_columns(expr, {u: [1]})
    assert evaluate_columns("1 + 2", {"z": pa.array([1, 2, 3])}).to_pylist() == [Decimal(3)] * 3


def test_bad_input():
    cases = [
        ("a", pa.table({"a": pa.array([b"x"], pa.binary())}), TypeError, "unsupported type binary"),
        ("a", {"a": pa.array([1], pa.date32())}, TypeError, "date32"),
        ("a + b", {"a": [1, 2], "b": [1]}, ValueError, "different lengths"),
        ("a", 5, TypeError, "Arrow PyCapsule interface"),
        ("a", {"a": 5}, TypeError, "column 'a'"),
        ("a", {"a": "123"}, TypeError, "column 'a'"),
        ("a", {1: [1]}, TypeError, "Variable keys must be UUID or str"),
        ("a", {"\ud800": [1]}, TypeError, "Variable keys must be UUID or str"),
        ("a", pa.array([1, 2]), TypeError, "struct of columns"),
        ("a", {}, RuntimeError, "Variable not found: a"),
        ("1", {}, ValueError, "no columns"),
    ]
    for text, data, error, message in cases:
        with pytest.raises(error, match=message):
            evaluate_columns(text, data)

    class Capsules:
        def __init__(self, value):
            self.value = value

        def __arrow_c_stream__(self, requested_schema=None):
            return self.value

    schema_capsule = pa.schema([("a", pa.int64())]).__arrow_c_schema__()
    for value, error in [(None, TypeError), (5, TypeError), (schema_capsule, TypeError)]:
        with pytest.raises(error):
            evaluate_columns("a", Capsules(value))
    stream = pa.table({"a": [1]}).__arrow_c_stream__()
    evaluate_columns("a", Capsules(stream))
    with pytest.raises(ValueError, match="released"):
        evaluate_columns("a", Capsules(stream))  # already moved out
    args = [
        (dict(errors="ignore"), ValueError), (dict(gas=-1), ValueError), (dict(scale=39), ValueError),
        (dict(threads=0), ValueError), (dict(threads=1.5), TypeError), (dict(gas="1"), TypeError),
    ]
    for kwargs, error in args:
        with pytest.raises(error):
            evaluate_columns("a", {"a": [1]}, **kwargs)
    with pytest.raises(TypeError):
        evaluate_columns(5, {"a": [1]})
    with pytest.raises(ValueError, match="Parse error"):
        evaluate_columns("1 +", {"a": [1]})


def test_gas_errors_match():
    data = {"a": [1, 2, 3]}
    with pytest.raises(GasExhaustedError) as info:
        evaluate_columns("a ^ a", data, gas=5)
    with pytest.raises(GasExhaustedError) as single:
        evaluate("a ^ a", {"a": 3}, gas=5)
    assert str(info.value) == str(single.value) and info.value.__notes__ == ["raised by row 2 (rows counted from 0)"]


def test_release_callbacks_and_no_leak():
    table = pa.table({"a": pa.array(range(1000), pa.int64()), "b": pa.array([Decimal("1.25")] * 1000)})
    expr = CompiledExpression("a + b")
    gc.collect()
    before = pa.total_allocated_bytes()
    for i in range(10_000):
        r = evaluate_columns(expr, table if i % 2 else {"a": table["a"], "b": table["b"]}, threads=1)
        if i % 3 == 0:
            pa.array(r)
        elif i % 3 == 1:
            r.__arrow_c_array__()  # capsules dropped unconsumed
    del r
    gc.collect()
    assert pa.total_allocated_bytes() == before


def test_round_trips():
    pl = pytest.importorskip("polars")
    pd = pytest.importorskip("pandas")
    duckdb = pytest.importorskip("duckdb")
    values = {"a": [Decimal("1.25"), Decimal("-3.50"), None], "b": [1, 2, 3]}
    table = pa.table({"a": pa.array(values["a"], pa.decimal128(12, 2)), "b": pa.array(values["b"], pa.int32())})
    want = [Decimal("3.25"), Decimal("0.50"), None]
    sources = [
        table,
        table.to_batches()[0],
        pa.RecordBatchReader.from_batches(table.schema, table.to_batches()),
        pl.from_arrow(table),
        {"a": pl.from_arrow(table)["a"], "b": pl.Series([1, 2, 3])},
        {"a": table["a"], "b": table["b"].to_numpy().tolist()},
    ]
    con = duckdb.connect()
    con.register("tbl", table)
    sources.append(con.sql("select a, b from tbl"))
    for source in sources:
        assert evaluate_columns("a + b * 2", source).to_pylist() == want, type(source)
    df = table.to_pandas(types_mapper=pd.ArrowDtype)
    assert evaluate_columns("a + b * 2", df).to_pylist() == want
    r = evaluate_columns("a + b * 2", table)
    assert pl.Series(r).to_list() == want
    assert pa.array(r).type == pa.decimal128(38, 2)
    assert pa.chunked_array(r).to_pylist() == want  # through __arrow_c_stream__
    con.register("r_tbl", pa.table({"x": pa.array(r)}))
    assert con.execute("select sum(x) from r_tbl").fetchone()[0] == Decimal("3.75")


def test_package_exports():
    assert "evaluate_columns" in py_vexlor.__all__
    assert py_vexlor.evaluate_columns is evaluate_columns


def test_dask_cluster_matches_local():
    pd = pytest.importorskip("pandas")
    dd = pytest.importorskip("dask.dataframe")
    distributed = pytest.importorskip("distributed")
    rng = random.Random(5)
    cents = [[Decimal(rng.randint(100, 9999)).scaleb(-2) for _ in range(3000)] for _ in "ab"]
    table = pa.table({"a": pa.array(cents[0], pa.decimal128(18, 2)), "b": pa.array(cents[1], pa.decimal128(18, 2))})
    expr = CompiledExpression("round(max(a, b) * 1.07, 2)")
    local = evaluate_columns(expr, table, scale=2).to_pylist()

    def partition(frame, expr):
        stream = py_vexlor.evaluate_stream(expr, pa.Table.from_pandas(frame, preserve_index=False), scale=2)
        result = pa.RecordBatchReader.from_stream(stream).read_all()["result"]
        return pd.Series(pd.arrays.ArrowExtensionArray(result), index=frame.index)

    frame = dd.from_pandas(table.to_pandas(types_mapper=pd.ArrowDtype), npartitions=4)
    meta = pd.Series([], dtype=pd.ArrowDtype(pa.decimal128(38, 2)))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster):
            remote = frame.map_partitions(partition, expr, meta=meta).compute()
    assert list(remote) == local


def test_a_compiled_expression_runs_as_its_json_would():
    # evaluate_columns hands _columnar the object itself; its JSON text is the other way in.
    from py_vexlor import _columnar

    u = "{12345678-1234-5678-1234-567812345678}"
    table = pa.table({"a": [1, 0, None, 5], "b": [0, 3, 2, 1], "a_name_longer_than_16": [1, 2, 3, 4], u: [9, 8, 7, 6]})
    for text in FORMULAS[:3] + [f"a_name_longer_than_16 * {u} + b", "missing + a"]:
        restored = CompiledExpression(text)
        restored.__setstate__((None, 4))
        built = CompiledExpression(text)
        for expr in (built, CompiledExpression.from_bytecode_json(built.to_bytecode_json()), restored):
            for gas, errors_to_null in ((None, False), (None, True), (3, True)):
                outcomes = []
                for program in (expr, expr.to_bytecode_json()):
                    try:
                        got, _ = _columnar.evaluate([("r", program, None)], table, (), None, gas, errors_to_null, 1)
                        outcomes.append([str(v) for v in got[0]])
                    except Exception as e:  # noqa: BLE001 (the error itself is compared)
                        outcomes.append((type(e), str(e)))
                assert outcomes[0] == outcomes[1], (text, gas, errors_to_null)
