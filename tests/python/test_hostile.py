"""Hostile callers: odd dict subclasses, finalizers and callbacks that change what is
being read, import hooks, memory exhaustion, sub-interpreters, interrupts and
lookalike classes. Cases that used to crash or hang run in a child interpreter
with a timeout, as do those that need the module's first use in a fresh process."""

import os
import subprocess
import sys
import textwrap
from decimal import Decimal

import pytest

import py_vexlor

UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")


def run_child(code: str, timeout: float = 60) -> subprocess.CompletedProcess:
    """Runs `code` in a new interpreter (same environment); fails on a crash or a hang."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=timeout
    )
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout}\n{result.stderr}"
    return result


def test_dict_subclass_items_override_is_not_read():
    # items() yielding anything but pairs used to crash; the dict's own entries are
    # read on every path, whatever the values' types.
    run_child("""
        import py_vexlor
        class V:
            def __str__(self): return '5'
        for bad in ([('a',)], [1], ['ab'], [['a', 5]], [('a', 7)]):
            class D(dict):
                def items(self, bad=bad): return bad
            assert py_vexlor.evaluate('a', D(a=V())) == 5
            assert py_vexlor.evaluate('a + b', D(a=1, b=V())) == 6
            assert py_vexlor.evaluate('a', D(a=1)) == 1
    """)


def test_gc_callback_clearing_the_dict_during_conversion():
    # str() of a Decimal in a new context allocates, which can run a collection,
    # whose callback here empties the dict being read. The thresholds move the
    # collection from before the walk into the conversion.
    run_child("""
        import contextvars, gc
        from decimal import Decimal
        from py_vexlor import CompiledExpression
        e = CompiledExpression('k' * 40)
        assert e.evaluate({'k' * 40: 1}) == 1
        def go(d, threshold):
            def clear(phase, info):
                gc.callbacks.remove(clear)
                d.clear()
            gc.callbacks.append(clear)
            gc.set_threshold(threshold)
            try:
                return e.evaluate(d)
            except RuntimeError as error:
                return str(error)
            finally:
                gc.set_threshold(700)
                if clear in gc.callbacks:
                    gc.callbacks.remove(clear)
        for threshold in range(1, 9):
            d = {''.join(['k'] * 40): Decimal('1E+3')}
            outcome = contextvars.Context().run(go, d, threshold)
            assert outcome in (Decimal(1000), 'dictionary changed size during iteration',
                               'Variable not found: ' + 'k' * 40), outcome
    """)


def test_sub_interpreter_import_fails_cleanly():
    pytest.importorskip("_testcapi")
    result = run_child("""
        import _testcapi
        from decimal import Decimal
        assert _testcapi.run_in_subinterp("import py_vexlor; py_vexlor.evaluate('1')") != 0
        import py_vexlor
        r = py_vexlor.evaluate('x + 1', {'x': Decimal('1.5')})
        assert isinstance(r, Decimal) and r == Decimal('2.5')
        del r
    """)
    assert "py_vexlor._lib does not support sub-interpreters" in result.stderr


def test_import_hook_calling_back_while_decimal_is_imported():
    run_child("""
        import sys
        import py_vexlor
        assert 'decimal' not in sys.modules
        seen = []
        class Finder:
            def find_spec(self, name, path=None, target=None):
                if name == 'decimal':
                    sys.meta_path.remove(self)
                    seen.append(py_vexlor.evaluate('2'))
                return None
        sys.meta_path.insert(0, Finder())
        assert py_vexlor.evaluate('1') == 1 and seen == [2]
    """)


@pytest.mark.skipif(UNDER_ASAN or not sys.platform.startswith("linux"), reason="address-space limit")
def test_memory_exhaustion_raises_memory_error():
    # The limit is set just above what the process uses once its inputs exist.
    run_child("""
        import resource, sys
        import py_vexlor
        from py_vexlor import CompiledExpression
        def limit(extra):
            size = next(int(l.split()[1]) for l in open('/proc/self/status') if l.startswith('VmSize'))
            resource.setrlimit(resource.RLIMIT_AS, (size * 1024 + extra, resource.RLIM_INFINITY))
        e = CompiledExpression('1')
        batch = [e] * 20_000_000
        text = '[' + ' ' * 150_000_000 + ']'
        column = {'a': [e] * 5_000_000}  # its copy fits, the values read from it do not
        import py_vexlor._columnar
        refs = sys.getrefcount(e)
        limit(60_000_000)
        for call in (lambda: py_vexlor.evaluate_batch(batch),
                     lambda: CompiledExpression.from_bytecode_json(text),
                     lambda: py_vexlor.evaluate_columns('a', column, threads=1)):
            try:
                call()
                raise AssertionError('no MemoryError')
            except MemoryError:
                pass
        assert sys.getrefcount(e) == refs
        e.__setstate__(('1', 15))  # no shared use was left behind
        assert py_vexlor.evaluate_batch([e, e]) == [1, 1]
    """, timeout=120)


def test_columns_mapping_emptied_while_its_columns_are_read():
    # items() hands out a list the mapping keeps; converting a value of the first
    # column empties it and refills the freed memory, while the second is unread.
    result = run_child("""
        import py_vexlor
        store = []
        class Col:
            def __len__(self): return 2
            def __getitem__(self, i): return [1, 2][i]
        class V:
            def __str__(self):
                store.clear()
                junk = [bytes(40) + b'\\xff' * 40 for _ in range(10000)]
                return '1'
        class M(dict):
            def items(self): return store
        store[:] = [('a', [V(), V()]), ('b', Col())]
        print(py_vexlor.evaluate_columns('a + b', M(a=0)).to_pylist())
    """)
    assert result.stdout.strip() == "[Decimal('2'), Decimal('3')]"


def test_columnar_sub_interpreter_import_fails_cleanly():
    pytest.importorskip("_testcapi")
    result = run_child("""
        import _testcapi
        import py_vexlor, py_vexlor._columnar as c
        load = ('import importlib.util; s = importlib.util.spec_from_file_location('
                f'"py_vexlor._columnar", {c.__file__!r}); s.loader.exec_module(importlib.util.module_from_spec(s))')
        assert _testcapi.run_in_subinterp(load) != 0
        assert py_vexlor.evaluate_columns('a + 1', {'a': [1]}).to_pylist() == [2]
    """)
    assert "py_vexlor._columnar does not support sub-interpreters" in result.stderr


def test_columns_of_more_rows_than_can_be_counted():
    # Null arrays need no buffers, so their lengths can be anything: the sum of
    # the chunks' lengths used to wrap around.
    pa = pytest.importorskip("pyarrow")
    big = pa.Array.from_buffers(pa.null(), 2**61, [None])
    batch = pa.record_batch([big], names=["a"])
    with pytest.raises(ValueError, match="more than 4611686018427387903 rows"):
        py_vexlor.evaluate_columns("a + b", {"a": pa.chunked_array([big] * 4 + [pa.nulls(2)]), "b": [1, 2]})
    # A stream is evaluated batch by batch: its first batch is more than memory holds.
    with pytest.raises(MemoryError):
        py_vexlor.evaluate_columns("1", pa.RecordBatchReader.from_batches(batch.schema, [batch] * 4))


def test_columns_stream_out_of_memory_is_memory_error():
    # A producer that runs out of memory says ENOMEM: the caller gets MemoryError.
    pa = pytest.importorskip("pyarrow")
    batch = pa.record_batch([pa.array([1])], names=["a"])

    def batches():
        yield batch
        raise MemoryError

    with pytest.raises(MemoryError, match=r"\(error 12\)"):
        py_vexlor.evaluate_columns("a", pa.RecordBatchReader.from_batches(batch.schema, batches()))


def test_columns_exported_result_outlives_its_object():
    pa = pytest.importorskip("pyarrow")
    r = py_vexlor.evaluate_columns("a * 2", {"a": [Decimal("1.5"), None]})
    first, second, stream = r.__arrow_c_array__(), r.__arrow_c_array__(), r.__arrow_c_stream__()
    del r
    want = [Decimal("3.0"), None]
    assert pa.Array._import_from_c_capsule(*first).to_pylist() == want
    assert pa.Array._import_from_c_capsule(*second).to_pylist() == want
    assert pa.ChunkedArray._import_from_c_capsule(stream).to_pylist() == want
    with pytest.raises(pa.ArrowInvalid, match="released"):
        pa.Array._import_from_c_capsule(*first)


class Raising:
    def __init__(self, method, error):
        self.method, self.error = method, error

    def __str__(self):
        if self.method == "__str__":
            raise self.error
        return "not a number"

    def __float__(self):
        raise self.error

    def __index__(self):
        if self.method == "__index__":
            raise self.error
        raise TypeError("no index")


class Halt(BaseException):
    pass


class RaisingStream:
    def __init__(self, error):
        self.error = error

    def __arrow_c_stream__(self, requested_schema=None):
        raise self.error


@pytest.mark.parametrize("method", ["__str__", "__float__", "__index__"])
@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, MemoryError, Halt])
def test_interrupts_reach_the_caller(method, error):
    with pytest.raises(error):
        py_vexlor.evaluate("a", {"a": Raising(method, error)})
    with pytest.raises(error):
        py_vexlor.evaluate_columns("a", {"a": [1, Raising(method, error)]})
    with pytest.raises(error):
        py_vexlor.evaluate_columns("a", {"a": RaisingStream(error)} if method == "__str__" else RaisingStream(error))


def test_decimal_lookalike_takes_the_text_path():
    run_child("""
        import decimal, sys
        class S(decimal.Decimal):
            def __str__(self): return '777'
        decimal.Decimal = S
        sys.modules['_decimal'].Decimal = S
        import py_vexlor
        r = py_vexlor.evaluate('x + 1', {'x': S('1')})
        assert type(r) is S and r == 778, repr(r)
    """)


def test_gas_alone_decides_under_a_limit_within_the_loop_budget():
    e = py_vexlor.CompiledExpression.from_bytecode_json('[{"PushConst":"4"},{"Call":["floor",1]},{"Jump":0}]')
    with pytest.raises(py_vexlor.GasExhaustedError) as info:
        e.evaluate(gas=10000)
    assert str(info.value) == "Out of gas: instruction cost 1 exceeds remaining 0 (limit 10000)"


class StrLying(str):
    def __str__(self):
        return "abc"


def test_str_subclass_is_read_by_its_own_text():
    assert py_vexlor.evaluate("a", {"a": StrLying("5")}) == 5
    with pytest.raises(ValueError) as info:
        py_vexlor.evaluate("a", {"a": StrLying("x")})
    assert str(info.value) == "Invalid numeric string for key 'a': Invalid decimal: unknown character"


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_columns_in_a_child_made_by_fork_after_a_threaded_call():
    # The child has none of the parent's helper threads; a call there must not wait for them.
    run_child("""
        import os, warnings
        import py_vexlor
        data = {'a': list(range(5000)), 'b': [2] * 5000}
        want = py_vexlor.evaluate_columns('a * b', data, threads=2).to_pylist()
        with warnings.catch_warnings():
            warnings.simplefilter('ignore', DeprecationWarning)  # fork() of a multi-threaded process
            pid = os.fork()
        if pid == 0:
            ok = py_vexlor.evaluate_columns('a * b', data, threads=2).to_pylist() == want
            os._exit(0 if ok else 1)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0, status
        assert py_vexlor.evaluate_columns('a * b', data, threads=2).to_pylist() == want
    """)
