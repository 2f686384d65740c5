"""explain(): one evaluation, instruction by instruction.

>>> from py_vexlor import explain
>>> trace = explain("price * qty - discount", {"price": "2.50", "qty": 3, "discount": 1})
>>> trace.result, trace.gas
(Decimal('6.50'), 9)
>>> [(s.instruction, s.inputs, s.output) for s in trace.steps][2]
('Mul', (Decimal('2.50'), Decimal('3')), Decimal('7.50'))
"""

from __future__ import annotations

import threading
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

from . import _analysis
from ._lib import CompiledExpression, GasExhaustedError, evaluate, evaluate_batch

if TYPE_CHECKING:
    from decimal import Decimal  # imported when steps are first read: `import py_vexlor` does not import decimal

__all__ = ["explain", "Trace", "Step"]


class Step:
    """One instruction run: its index in the program, its text, the byte span of the source it came from
    (None without a source), the values it took (top of stack last) and the one it gave (None for jumps and for a
    step that failed), the gas used once it ran, and for a conditional jump the branch taken ("then"/"else")."""

    __slots__ = ("index", "instruction", "start", "end", "inputs", "output", "gas", "branch")

    index: int
    instruction: str
    start: int | None
    end: int | None
    inputs: tuple[Decimal, ...]
    output: Decimal | None
    gas: int
    branch: str | None

    def __init__(self, raw: tuple[Any, ...], program: _Program, decimal: type[Decimal]) -> None:
        index, inputs, output, gas, branch = raw
        self.index = index
        self.instruction = program.texts[index]
        self.start, self.end = program.spans[index] if program.spans is not None else (None, None)
        self.inputs = tuple(map(decimal, inputs))
        self.output = None if output is None else decimal(output)
        self.gas = gas
        self.branch = branch

    def __repr__(self) -> str:
        return (
            f"Step(index={self.index}, instruction={self.instruction!r}, start={self.start}, end={self.end}, "
            f"inputs={self.inputs!r}, output={self.output!r}, gas={self.gas}, branch={self.branch!r})"
        )


class Trace:
    """The record of one evaluation: `steps`, `result` (None when it failed), `error` (the exception evaluate
    raises for these arguments, or None), `gas` (the gas it used, counted also without a limit, at most
    2**64 - 1) and `source` (the expression's text; None for a program read from bytecode JSON, whose steps
    then have no span)."""

    __slots__ = ("result", "error", "gas", "_program", "_recorded", "_count", "_raw", "_steps", "_outcome")

    result: Decimal | None
    error: BaseException | None
    gas: int

    def __init__(
        self, program: _Program, raw: tuple[Any, ...], result: Decimal | None, error: BaseException | None
    ) -> None:
        self._program = program
        self._recorded, self._outcome, self.gas, self._count = raw
        self._raw: list[tuple[Any, ...]] | None = None
        self.result = result
        self.error = error
        self._steps: list[Step] | None = None

    @property
    def source(self) -> str | None:
        return self._program.source

    def _raw_steps(self) -> list[tuple[Any, ...]]:
        if self._raw is None:
            self._raw = _analysis.steps(self._recorded)
        return self._raw

    @property
    def steps(self) -> list[Step]:
        if self._steps is None:
            from decimal import Decimal

            program = self._program
            self._steps = [Step(r, program, Decimal) for r in self._raw_steps()]
        return self._steps

    def __repr__(self) -> str:
        end = f"error={self.error!r}" if self.error is not None else f"result={self.result!r}"
        return f"<Trace of {self._count} steps, {end}, gas={self.gas}>"

    def __str__(self) -> str:
        return _render(self, self._raw_steps())


class _Program:
    """What explain keeps of a program between calls."""

    __slots__ = ("prepared", "texts", "spans", "loaders", "source")

    def __init__(self, program_json: str, source: str | None, max_depth: int | None) -> None:
        self.prepared, self.texts, self.spans, loaders = _analysis.prepare(program_json, source, max_depth)
        self.loaders = [CompiledExpression.from_bytecode_json(j) for j in loaders]
        self.source = source if self.spans is not None else None  # a text that is not this program's: none


_PROGRAMS: dict[object, _Program] = {}
_PROGRAMS_LOCK = threading.Lock()
_PROGRAMS_KEPT = 256


def _program(key: object, make: Callable[[], _Program]) -> _Program:
    found = _PROGRAMS.get(key)
    if found is None:
        found = make()
        with _PROGRAMS_LOCK:
            if len(_PROGRAMS) >= _PROGRAMS_KEPT:
                _PROGRAMS.clear()
            _PROGRAMS[key] = found
    return found


def _values(program: _Program, vars: Any) -> list[Decimal | None]:
    """Each variable's value exactly as evaluate reads it from `vars` (None: absent)."""
    loaders = program.loaders
    if not loaders:
        return []
    try:
        return evaluate_batch(loaders, vars)  # type: ignore[return-value]
    except RuntimeError:  # a variable is absent: read them one by one
        values: list[Decimal | None] = []
        for loader in loaders:
            try:
                values.append(loader.evaluate(vars))
            except RuntimeError:
                values.append(None)
        return values


# The program of a CompiledExpression, found again without __reduce__: by the object's id, checked
# against a copy of what it held then (its program, and its repr, which shows its source and
# max_depth), so that another object at the same address, or this one changed by __setstate__,
# is never taken for it. The object itself is not kept alive.
_BY_ID: dict[int, tuple[CompiledExpression, str, _Program]] = {}


def _program_of(compiled: CompiledExpression) -> _Program:
    known = _BY_ID.get(id(compiled))
    if known is not None:
        copy, shown, program = known
        if copy == compiled and repr(compiled) == shown:
            return program
    shown = repr(compiled)
    _, (program_json,), state = compiled.__reduce__()
    program = _program((program_json, *state), lambda: _Program(program_json, *state))
    copy = CompiledExpression.from_bytecode_json(program_json)
    copy.__setstate__(state)
    with _PROGRAMS_LOCK:
        if len(_BY_ID) >= _PROGRAMS_KEPT:
            _BY_ID.clear()
        _BY_ID[id(compiled)] = (copy, shown, program)
    return program


def explain(
    expression: str | CompiledExpression,
    vars: dict[Any, Any] | None,
    *,
    gas: int | None = None,
    max_depth: int | None = None,
) -> Trace:
    """Evaluates `expression` with `vars` (read as evaluate reads them) under `gas`, recording every instruction.
    A failing evaluation is not raised: the Trace holds its exception. Arguments evaluate refuses (a text that
    does not compile, values it cannot read, a negative gas) raise as evaluate raises them."""
    result: Decimal | None = None
    error: BaseException | None = None
    try:
        if isinstance(expression, CompiledExpression):
            result = expression.evaluate(vars, gas)
        else:
            result = evaluate(expression, vars, gas, max_depth)
    except (ArithmeticError, RuntimeError) as exc:  # the evaluation's own errors (GasExhaustedError included)
        error = exc
    if isinstance(expression, CompiledExpression):
        program = _program_of(expression)
    else:
        text = expression
        program = _program((text, max_depth), lambda: _program_of(CompiledExpression(text, max_depth)))
    values = _values(program, vars)
    try:
        raw = _analysis.trace(program.prepared, values, gas)
    except (ValueError, OverflowError):
        if error is not None:  # evaluate refused the arguments (a gas beyond 64 bits) before running
            raise error from None
        raise
    outcome: tuple[str, str] = raw[1]
    if error is not None and not _same_error(error, outcome):
        raise error  # not an error of the evaluation: one evaluate raised for its arguments
    if error is None and outcome[0] != "ok":
        raise RuntimeError(f"internal error: the traced run of {program.source!r} failed: {outcome}")
    return Trace(program, raw, result, error)


_ERROR_CLASSES: dict[str, type[BaseException]] = {
    "DivisionByZero": ZeroDivisionError,
    "Overflow": OverflowError,
    "OutOfGas": GasExhaustedError,
}


def _same_error(error: BaseException, outcome: tuple[str, str]) -> bool:
    kind, message = outcome
    return kind != "ok" and type(error) is _ERROR_CLASSES.get(kind, RuntimeError) and str(error) == message


def _columns(source: str) -> list[int]:
    """The character column of each byte offset of `source` (and of its end)."""
    cols: list[int] = []
    for i, ch in enumerate(source):
        cols.extend([i] * len(ch.encode("utf-8")))
    cols.append(len(source))
    return cols


def _clip(text: str, width: int) -> str:
    text = " ".join(text.split())
    return text if len(text) <= width else text[: width - 3] + "..."


def _render(trace: Trace, raw_steps: list[tuple[Any, ...]]) -> str:
    source = trace.source
    cols = _columns(source) if source is not None else None
    rows = [("#", "instruction", "source", "inputs", "output", "gas")]
    for step, raw in zip(trace.steps, raw_steps):
        inputs, output = raw[1], raw[2]
        where = ""
        if cols is not None and source is not None and step.start is not None and step.end is not None:
            where = _clip(source[cols[step.start] : cols[step.end]], 28)
        if step.branch is not None:
            shown = "-> " + step.branch
        elif output is not None:
            shown = output
        elif step is trace.steps[-1] and trace.error is not None:
            shown = "failed"
        else:
            shown = ""
        rows.append((str(step.index), step.instruction, where, ", ".join(inputs), shown, str(step.gas)))
    widths = [max(len(r[i]) for r in rows) for i in range(6)]
    right = {0, 5}
    lines: list[str] = []
    if source is not None:
        lines.append(source)
    for r in rows:
        cells = [c.rjust(w) if i in right else c.ljust(w) for i, (c, w) in enumerate(zip(r, widths))]
        lines.append("  ".join(cells).rstrip())
    if trace.error is not None:
        lines.append(f"error: {type(trace.error).__name__}: {trace.error}")
    else:
        lines.append(f"result: {trace.result}")
    lines.append(f"gas used: {trace.gas}")
    return "\n".join(lines)
