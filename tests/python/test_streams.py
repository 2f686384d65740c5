"""evaluate_stream and evaluate_columns over streams against `evaluate` row by row, and the rules of the API."""

import itertools
import os
import random
import shutil
import sys
from decimal import ROUND_HALF_EVEN, Decimal, localcontext

import pytest

from py_vexlor import CompiledExpression, evaluate_columns, evaluate_stream
from test_columns import FORMULAS, GAS, arrow_array, column, expected_rows, outcome

pa = pytest.importorskip("pyarrow")


def as_text(values):
    return [str(v) if isinstance(v, Decimal) else "None" for v in values]


def read_all(stream):
    return outcome(lambda: pa.RecordBatchReader.from_stream(stream).read_all())


@pytest.mark.parametrize("seed", range(10))
def test_streams_match_evaluate(seed):
    rng = random.Random(1000 + seed)
    n = rng.choice([0, 1, 7, 1500, 3100])
    expr = CompiledExpression(rng.choice(FORMULAS))
    gas = rng.choice(GAS)
    arrays = {}
    for name in "abc":
        arrow_type, values = column(rng, n)
        while arrow_type in (None, pa.float32()):  # float32 reading has its own test
            arrow_type, values = column(rng, n)
        arrays[name] = arrow_array(arrow_type, values)
    table = pa.table(arrays)
    cuts = sorted({0, n, *(rng.randint(0, n) for _ in range(rng.randint(0, 6)))})
    batches = [table.slice(i, j - i).combine_chunks().to_batches()[0] for i, j in zip(cuts, cuts[1:])]
    empty = table.slice(0, 0).combine_chunks().to_batches(max_chunksize=1)[:1] or [pa.record_batch(
        [pa.nulls(0, f.type) for f in table.schema], schema=table.schema)]
    empty = empty[0]
    batches.insert(rng.randint(0, len(batches)), empty)

    def reader():
        return pa.RecordBatchReader.from_batches(table.schema, iter(batches))

    want = expected_rows(expr, {k: v.to_pylist() for k, v in arrays.items()}, gas)
    first = next(((i, w) for i, w in enumerate(want) if isinstance(w, tuple)), None)
    threads = rng.choice([1, 3])
    got = evaluate_columns(expr, reader(), gas=gas, errors="null", threads=threads)
    assert as_text(got) == as_text(want)
    raised = outcome(lambda: evaluate_columns(expr, reader(), gas=gas, threads=threads))
    if first is not None:
        assert raised == first[1]

    values = [w for w in want if isinstance(w, Decimal)]
    scale = rng.choice([0, 2, max((-v.as_tuple().exponent for v in values), default=0)])
    with localcontext(prec=80):
        at_scale = [w.quantize(Decimal(1).scaleb(-scale), ROUND_HALF_EVEN) if isinstance(w, Decimal) else None
                    for w in want]
    at_scale = [w.copy_abs() if w is not None and w.is_zero() else w for w in at_scale]  # Arrow has no -0
    unfit = next((i for i, w in enumerate(at_scale) if w is not None and abs(w.scaleb(scale)) >= 10**38), None)
    out = read_all(evaluate_stream({"r": expr}, reader(), keep=["a"], gas=gas, errors="null", scale=scale,
                                   threads=threads))
    if unfit is not None:
        assert f"row {unfit}: " in out[1] and "does not fit decimal128(38" in out[1]
    else:
        assert list(map(repr, out["a"].to_pylist())) == list(map(repr, arrays["a"].to_pylist()))
        assert as_text(out["r"].to_pylist()) == as_text(at_scale)
        assert out.schema.field("r").type == pa.decimal128(38, scale)
    if first is not None and (unfit is None or first[0] <= unfit):
        failed = read_all(evaluate_stream(expr, reader(), gas=gas, scale=scale, threads=threads))
        assert failed[1].startswith(f"row {first[0]}: ") and str(first[1][1]) in failed[1]


def producer(batch, count, pulled):
    for _ in range(count):
        pulled.append(1)
        yield batch


def test_api_rules():
    table = pa.table({"id": [1, 2], "a": [Decimal("1.5"), None], "b": [3, 4]})
    cases = [
        (dict(expression="a + k", vars={"a": 1}), ValueError, "given both in vars and as a column"),
        (dict(keep=["id", "nope"]), ValueError, "no column 'nope'"),
        (dict(expression={"id": "a"}, keep=["id"]), ValueError, "name of a kept column"),
        (dict(expression="c"), RuntimeError, "Variable not found: c"),
        (dict(data=pa.Table.from_arrays([pa.array([1]), pa.array([2])], names=["a", "a"])), ValueError,
         "duplicate column 'a'"),
        (dict(scale={"nope": 1}), ValueError, "scale names no output"),
        (dict(vars=[1]), TypeError, "argument 'vars': 'list' object is not an instance of 'dict'"),
        (dict(expression="a + k", vars={"k": "x"}), ValueError, "Invalid numeric string for key 'k'"),
    ]
    for entry in ("columns", "stream"):
        call = evaluate_columns if entry == "columns" else evaluate_stream
        for kwargs, error, message in cases:
            kwargs = {"expression": "a + b", "data": table, "scale": 2, **kwargs}
            with pytest.raises(error, match=message):
                call(kwargs.pop("expression"), kwargs.pop("data"), **kwargs)
    with pytest.raises(ValueError, match="not a mapping"):
        evaluate_columns("a + b", {"a": [1], "b": [2]}, keep=["a"])
    with pytest.raises(TypeError, match="Arrow PyCapsule"):
        evaluate_stream("a + b", {"a": [1], "b": [2]}, scale=0)
    # vars by the rules of evaluate; kept columns first; outputs named
    result = evaluate_columns({"fee": "a * k", "total": "a + b"}, table, vars={"k": 0.1}, keep="id")
    assert result["fee"].to_pylist() == [Decimal("0.15"), None] and result["fee"].name == "fee"
    got = pa.table(result)
    assert got.column_names == ["id", "fee", "total"] and got["id"].to_pylist() == [1, 2]
    # an exported stream is read once; its schema may be looked at first
    stream = evaluate_stream("a + b", table, scale=1)
    stream.__arrow_c_stream__()
    assert pa.RecordBatchReader.from_stream(stream).read_all()["result"].to_pylist() == [Decimal("4.5"), None]
    with pytest.raises(RuntimeError, match="read once"):
        stream.__arrow_c_stream__()
    if not hasattr(__import__("py_vexlor"), "analyze"):
        with pytest.raises(ValueError, match="pass scale="):
            evaluate_stream("a / b", table)


def test_result_hand_off():
    import pickle
    r = evaluate_columns("x / 3", {"x": [Decimal("1.00"), Decimal("120000000000.01"), None]}, errors="null")
    want = [Decimal("0.3333333333333333333333333333"), Decimal("40000000000.003333333333333333"), None]
    assert list(r) == want and r[-2] == want[1] and len(r) == 3 and r.name == "result"
    assert pickle.loads(pickle.dumps(r)).to_pylist() == want
    with pytest.raises(IndexError):
        r[3]
    with pytest.raises(OverflowError, match="pass scale="):
        pa.array(r)  # no decimal128(38, S) holds both rows: an error when exported, not when evaluated
    assert pa.array(r, type=pa.utf8()).to_pylist() == [str(v) if v is not None else None for v in want]
    assert pa.array(r, type=pa.decimal128(38, 2)).to_pylist() == [Decimal("0.33"), Decimal("40000000000.00"), None]
    pd = pytest.importorskip("pandas")
    series = evaluate_columns("x * 2", {"x": [Decimal("1.25"), None]}).to_pandas()
    assert isinstance(series.dtype, pd.ArrowDtype) and series.name == "result" and series[0] == Decimal("2.50")
    pl = pytest.importorskip("polars")
    assert pl.Series(evaluate_columns({"total": "x"}, {"x": [1]})["total"]).name == "total"


def test_stream_reads_as_asked_and_stops_when_released():
    schema = pa.schema([("a", pa.int64())])
    batch = pa.record_batch([pa.array(range(1000))], schema=schema)
    pulled = []
    reader = pa.RecordBatchReader.from_batches(schema, producer(batch, 10_000, pulled))
    out = pa.RecordBatchReader.from_stream(evaluate_stream("a * 2", reader, scale=0, threads=2))
    assert out.read_next_batch()["result"][999].as_py() == 1998
    assert len(pulled) <= 1 + 2 + 1  # the batch read, one ahead per thread, one on its way
    del out
    count = len(pulled)
    assert count <= 4 and pulled == [1] * count

    def interrupted():
        yield batch
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        evaluate_columns("a", pa.RecordBatchReader.from_batches(schema, interrupted()))


def test_consumers():
    pl = pytest.importorskip("polars")
    duckdb = pytest.importorskip("duckdb")
    pq = pytest.importorskip("pyarrow.parquet")
    table = pa.table({"a": [Decimal("1.25"), Decimal("-3.50"), None], "b": [1, 2, 3]})
    want = [Decimal("3.25"), Decimal("0.50"), None]
    assert pl.DataFrame(evaluate_stream("a + b * 2", table, scale=2))["result"].to_list() == want
    stream = evaluate_stream("a + b * 2", pl.from_arrow(table), scale=2)  # noqa: F841 - read by name below
    assert [r[0] for r in duckdb.connect().sql("select result from stream").fetchall()] == want


@pytest.mark.skipif(shutil.which("java") is None, reason="pyspark needs a Java runtime")
def test_spark_recipe_matches_local():
    pytest.importorskip("pyspark")
    from pyspark.sql import SparkSession

    os.environ["PYSPARK_PYTHON"] = sys.executable
    rng = random.Random(5)
    rows = [(i, Decimal(rng.randint(100, 9999)).scaleb(-2), Decimal(rng.randint(100, 9999)).scaleb(-2))
            for i in range(3000)]
    expr = CompiledExpression("round(max(a, b) * 1.07, 2)")

    def evaluate_partition(batches):  # the README's recipe
        first = next(batches, None)
        if first is None:
            return
        reader = pa.RecordBatchReader.from_batches(first.schema, itertools.chain([first], batches))
        yield from pa.RecordBatchReader.from_stream(evaluate_stream(expr, reader, keep=["id"], scale=2, threads=1))

    spark = SparkSession.builder.master("local[2]").config("spark.ui.enabled", "false").getOrCreate()
    try:
        frame = spark.createDataFrame(rows, "id long, a decimal(18,2), b decimal(18,2)").repartition(4)
        remote = {r["id"]: r["result"] for r in
                  frame.mapInArrow(evaluate_partition, "id long, result decimal(38,2)").collect()}
    finally:
        spark.stop()
    table = pa.table({"a": pa.array([r[1] for r in rows], pa.decimal128(18, 2)),
                      "b": pa.array([r[2] for r in rows], pa.decimal128(18, 2))})
    assert [remote[i] for i in range(len(rows))] == evaluate_columns(expr, table, scale=2).to_pylist()


def test_ray_recipe_matches_local():
    pytest.importorskip("ray.data")
    import ray

    rng = random.Random(5)
    cents = [[Decimal(rng.randint(100, 9999)).scaleb(-2) for _ in range(3000)] for _ in "ab"]
    table = pa.table({"id": range(3000), "a": pa.array(cents[0], pa.decimal128(18, 2)),
                      "b": pa.array(cents[1], pa.decimal128(18, 2))})
    expr = CompiledExpression("round(max(a, b) * 1.07, 2)")

    def price(batch):  # the README's recipe
        return batch.append_column("price", pa.array(evaluate_columns(expr, batch, scale=2)))

    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    try:
        refs = ray.data.from_arrow(table).repartition(4).map_batches(price, batch_format="pyarrow").to_arrow_refs()
        remote = pa.concat_tables(ray.get(refs)).sort_by("id")
    finally:
        ray.shutdown()
    assert remote["price"].to_pylist() == evaluate_columns(expr, table, scale=2).to_pylist()


def test_output_type_from_the_analysis(monkeypatch):
    import py_vexlor

    seen = []

    class Analysis:
        def __init__(self, inputs, bounded):
            self.scales = (0, 3)
            self.result = (Decimal(-5), Decimal(5)) if bounded else (None, Decimal(5))
            seen.append(inputs)

    table = pa.table({"a": pa.array([Decimal("1.5")], pa.decimal128(18, 2)), "b": pa.array(["2"])})
    monkeypatch.setattr(py_vexlor, "analyze", lambda expr, inputs: Analysis(inputs, "b" not in inputs), raising=False)
    stream = evaluate_stream("a * k", table, vars={"k": 2})
    assert stream.scales == {"result": 3}
    assert seen[0] == {"a": "decimal128(18,2)", "k": (Decimal(2), Decimal(2), 0)}
    assert pa.table(stream)["result"].to_pylist() == [Decimal("3.000")]
    with pytest.raises(ValueError, match="pass scale="):
        evaluate_stream("a + b", table)
    assert seen[1] == {"a": "decimal128(18,2)", "b": "utf8"}
