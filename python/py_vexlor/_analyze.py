"""Static analysis of an expression over input domains: `analyze`."""

from __future__ import annotations

import re
import uuid
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any, Final, Protocol, Union, cast, final

from ._lib import CompiledExpression  # first: its refusal of sub-interpreters is the one reported
from . import _analysis  # noqa: I001

__all__ = ["analyze", "Analysis", "Failure", "AnalysisWarning"]

if TYPE_CHECKING:
    from decimal import Decimal

# `decimal` is imported only when needed: importing the package must not import it.
_MAX_INT: Final = 79228162514264337593543950335
_WITNESS_BUDGET: Final = 400


class _ArrowSchemaExporter(Protocol):
    def __arrow_c_schema__(self) -> object: ...


Domain = Union[str, _ArrowSchemaExporter, tuple[Any, Any], tuple[Any, Any, int]]


@final
class Failure:
    """A way an evaluation with inputs inside the domains may fail."""

    __slots__ = ("kind", "message", "start", "end", "witness")

    def __init__(
        self, kind: str, message: str, start: int | None, end: int | None, witness: dict[str, Decimal | float] | None
    ) -> None:
        self.kind = kind
        self.message = message
        self.start = start
        self.end = end
        self.witness = witness

    def __repr__(self) -> str:
        return (
            f"Failure(kind={self.kind!r}, message={self.message!r}, start={self.start!r}, end={self.end!r}, "
            f"witness={self.witness!r})"
        )

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Failure):
            return NotImplemented
        return (self.kind, self.message, self.start, self.end, self.witness) == (
            other.kind, other.message, other.start, other.end, other.witness)

    __hash__ = None  # type: ignore[assignment]


@final
class AnalysisWarning:
    """A place where the text probably does not mean what its author thinks: `kind` is
    'right-grouping' or 'self-comparison' (from the text alone), 'never-taken' (a branch
    no input inside the domains takes) or 'zero-divisor' (a divisor that is only ever zero)."""

    __slots__ = ("kind", "message", "start", "end")

    def __init__(self, kind: str, message: str, start: int | None, end: int | None) -> None:
        self.kind = kind
        self.message = message
        self.start = start
        self.end = end

    def __repr__(self) -> str:
        return (
            f"AnalysisWarning(kind={self.kind!r}, message={self.message!r}, start={self.start!r}, end={self.end!r})"
        )


@final
class Analysis:
    """What evaluations of an expression with inputs in the given domains can do."""

    __slots__ = ("variables", "gas", "result", "scales", "failures", "warnings", "source", "_succeeds")

    def __init__(
        self,
        variables: list[str],
        gas: int | None,
        result: tuple[Decimal | None, Decimal | None],
        scales: tuple[int, int],
        failures: list[Failure],
        warnings: list[AnalysisWarning],
        source: str | None,
        succeeds: bool = True,
    ) -> None:
        self.variables = variables
        self.gas = gas
        self.result = result
        self.scales = scales
        self.failures = failures
        self.warnings = warnings
        self.source = source
        self._succeeds = succeeds

    def __repr__(self) -> str:
        return (
            f"Analysis(variables={self.variables!r}, gas={self.gas!r}, result={self.result!r}, "
            f"scales={self.scales!r}, failures={self.failures!r}, warnings={self.warnings!r})"
        )

    def __str__(self) -> str:
        return _report(self, self._succeeds)


def _report(a: Analysis, succeeds: bool) -> str:
    lo, hi = a.result
    lines = [
        f"expression: {a.source}" if a.source is not None else "expression: (program without source text)",
        f"variables:  {', '.join(a.variables) if a.variables else '(none)'}",
        f"gas:        {'no bound (the program jumps backwards)' if a.gas is None else f'at most {a.gas}'}",
        f"result:     {'-inf' if lo is None else lo} .. {'+inf' if hi is None else hi}, "
        f"scale {a.scales[0]}..{a.scales[1]}"
        if succeeds
        else "result:     none (every evaluation fails)",
    ]
    if not a.failures:
        lines.append("failures:   none possible for these inputs")
    for f in a.failures:
        lines.append("")
        lines.extend(_marked(a.source, f.start, f.end))
        ex = ""
        if f.witness is not None:
            ex = "; e.g. " + ", ".join(f"{k}={v}" for k, v in f.witness.items())
        lines.append(f"possible {f.kind}: {f.message}{'...' if f.message.endswith(': ') else ''}{ex}")
    for w in a.warnings:
        lines.append("")
        lines.extend(_marked(a.source, w.start, w.end))
        lines.append(f"warning: {w.message}")
    return "\n".join(lines)


def _marked(source: str | None, start: int | None, end: int | None) -> list[str]:
    """The source line holding the span, and carets under the span."""
    if source is None or start is None or end is None:
        return []
    raw = source.encode()
    line_start = raw.rfind(b"\n", 0, start) + 1
    line_end = raw.find(b"\n", start)
    if line_end < 0:
        line_end = len(raw)
    line = raw[line_start:line_end].decode(errors="replace")
    pad = len(raw[line_start:start].decode(errors="replace"))
    width = max(1, len(raw[start:min(end, line_end)].decode(errors="replace")))
    return ["    " + line, "    " + " " * pad + "^" * width]


# Arrow format strings (C data interface) of the accepted types, as text names.
_FORMATS: Final = {
    "c": "int8", "s": "int16", "i": "int32", "l": "int64", "C": "uint8", "S": "uint16", "I": "uint32",
    "L": "uint64", "e": "float16", "f": "float32", "g": "float64", "b": "bool", "u": "utf8", "U": "large_utf8",
    "vu": "utf8_view", "n": "null",
}
_FLOAT_TYPES: Final = frozenset({"float16", "float32", "float64", "float", "double"})
_INT_BITS: Final = {"int8": 8, "int16": 16, "int32": 32, "int64": 64}
_DECIMAL_TYPE = re.compile(r"decimal(?:128|256)\((\d+),(\d+)\)")

# (name, low, high, min_scale, max_scale, neg_zero, read failure, prefix, float values)
_NativeDomain = tuple[str, Union[str, None], Union[str, None], int, int, bool, Union[str, None], bool, bool]


def _type_text_of_format(fmt: str) -> str:
    if fmt.startswith("d:"):
        parts = fmt[2:].split(",")
        bits = parts[2] if len(parts) > 2 else "128"
        return f"decimal{bits}({parts[0]},{parts[1]})"
    if fmt in _FORMATS:
        return _FORMATS[fmt]
    raise ValueError(f"unsupported Arrow type format {fmt!r}")


def _bound_text(v: Decimal, rounding: str) -> str:
    """The text of a bound, rounded outwards to at most 28 fractional digits."""
    import decimal

    exponent = v.as_tuple().exponent
    if isinstance(exponent, int) and exponent < -28:
        wide = decimal.Context(prec=200, Emax=999999, Emin=-999999)
        v = v.quantize(decimal.Decimal(1).scaleb(-28), rounding=rounding, context=wide)
    if len(v.as_tuple().digits) > 28:  # more than a coefficient holds: fewer digits, outwards
        v = decimal.Context(prec=28, rounding=rounding).plus(v)
    return str(v)


def _bounds(lo: Decimal, hi: Decimal) -> tuple[str | None, str | None]:
    if not (lo.is_finite() and hi.is_finite()):
        raise ValueError("domain bounds must be finite")
    if lo > hi:
        raise ValueError(f"empty domain: {lo} > {hi}")
    lo_t = None if lo <= -_MAX_INT else _bound_text(lo, "ROUND_FLOOR")
    hi_t = None if hi >= _MAX_INT else _bound_text(hi, "ROUND_CEILING")
    return lo_t, hi_t


def _int_bounds(lo: int, hi: int) -> tuple[str | None, str | None]:
    if lo > hi:
        raise ValueError(f"empty domain: {lo} > {hi}")
    return (None if lo <= -_MAX_INT else str(lo), None if hi >= _MAX_INT else str(hi))


def _type_domain(name: str, text: str) -> _NativeDomain:
    known = _TYPE_BOUNDS.get(text)
    if known is None:
        known = _type_bounds(text)
        if len(_TYPE_BOUNDS) < 256:
            _TYPE_BOUNDS[text] = known
    lo, hi, min_scale, max_scale, neg_zero, failure, prefix = known
    floats = text.replace(" ", "").lower() in _FLOAT_TYPES
    return (name, lo, hi, min_scale, max_scale, neg_zero, failure.format(name) if failure else None, prefix, floats)


_TypeBounds = tuple[Union[str, None], Union[str, None], int, int, bool, Union[str, None], bool]
_TYPE_BOUNDS: dict[str, _TypeBounds] = {}


def _type_bounds(text: str) -> tuple[str | None, str | None, int, int, bool, str | None, bool]:
    """The domain of an Arrow type text; a read failure's message with {} for the key."""
    t = text.replace(" ", "").lower()
    m = _DECIMAL_TYPE.fullmatch(t)
    if m:
        p, s = int(m.group(1)), int(m.group(2))
        from decimal import Decimal

        top = Decimal((0, (9,) * p, -s)) if p > 0 else Decimal(0)
        lo, hi = _bounds(-top, top)
        if p > 28 or s > 28:  # read through text, possibly rounded, possibly out of range
            return (lo, hi, 0, 28, False, "Invalid float value for key '{}': not finite", False)
        return (lo, hi, s, s, False, None, False)
    if t in _INT_BITS:
        half = 2 ** (_INT_BITS[t] - 1)
        return (str(-half), str(half - 1), 0, 0, False, None, False)
    if t.startswith("uint") and t[4:] in ("8", "16", "32", "64"):
        return ("0", str(2 ** int(t[4:]) - 1), 0, 0, False, None, False)
    if t == "bool":
        return ("0", "1", 0, 0, False, None, False)
    if t == "float16":
        return ("-65504", "65504", 0, 28, True, None, False)
    if t in ("float32", "float64", "float", "double"):
        return (None, None, 0, 28, True, "Invalid float value for key '{}': not finite", False)
    if t in ("utf8", "large_utf8", "utf8_view", "string", "large_string"):
        return (None, None, 0, 28, True, "Invalid numeric string for key '{}': ", True)
    if t == "null":
        return (None, None, 0, 28, True, None, False)
    raise ValueError(f"unsupported domain type {text!r}")


def _number(value: object) -> Decimal:
    from decimal import Decimal

    if isinstance(value, bool):
        raise TypeError("a domain bound must be a number")
    if isinstance(value, (int, Decimal)):
        return Decimal(value)
    if isinstance(value, (float, str)):
        return Decimal(str(value))
    raise TypeError(f"a domain bound must be a number, not {type(value).__name__}")


def _domain(name: str, domain: object) -> _NativeDomain:
    if isinstance(domain, str):
        return _type_domain(name, domain)
    if hasattr(domain, "__arrow_c_schema__"):
        fmt, _, _ = _analysis.arrow_formats(domain)
        return _type_domain(name, _type_text_of_format(fmt))
    if isinstance(domain, tuple) and len(domain) in (2, 3):  # pyright: ignore[reportUnknownArgumentType]
        items: tuple[object, ...] = domain  # pyright: ignore[reportUnknownVariableType]
        lo, hi = items[0], items[1]
        if type(lo) is int and type(hi) is int:
            lo_t, hi_t = _int_bounds(lo, hi)
        else:
            lo_t, hi_t = _bounds(_number(lo), _number(hi))
        max_scale = 28
        if len(items) == 3:
            given = items[2]
            if not isinstance(given, int) or isinstance(given, bool) or not 0 <= given <= 28:
                raise ValueError("max_scale must be an int from 0 to 28")
            max_scale = given
        return (name, lo_t, hi_t, 0, max_scale, False, None, False, False)
    raise TypeError(
        f"domain of {name!r} must be an Arrow type (text or object with __arrow_c_schema__) or a (low, high) tuple"
    )


def _key(key: object) -> str:
    if isinstance(key, uuid.UUID):
        return "{" + str(key) + "}"
    if not isinstance(key, str):
        raise TypeError("domain keys must be str or UUID")
    if len(key) in (32, 36, 38, 45):
        try:
            return "{" + str(uuid.UUID(key)) + "}"
        except ValueError:
            pass
    return key


def _domains(inputs: object) -> list[_NativeDomain]:
    if inputs is None:
        return []
    if isinstance(inputs, Mapping):
        mapping = cast(Mapping[object, object], inputs)
        return [_domain(_key(k), v) for k, v in mapping.items()]
    if hasattr(inputs, "__arrow_c_schema__"):
        fmt, _, children = _analysis.arrow_formats(inputs)
        if fmt != "+s":
            raise TypeError("inputs with __arrow_c_schema__ must describe a whole table (a struct of columns)")
        return [_type_domain(_key(n), _type_text_of_format(f)) for n, f in children]
    raise TypeError("inputs must be None, a mapping of variable names to domains, or an Arrow schema")


def _syntax_warnings(source: str | None, max_depth: int) -> list[AnalysisWarning]:
    if source is None:
        return []
    # (kind, message, start, end): 'right-grouping', 'self-comparison'
    finder: Callable[[str, int], list[tuple[str, str, int, int]]] | None = getattr(_analysis, "syntax_warnings", None)
    if finder is None:
        return []
    return [AnalysisWarning(k, m, s, e) for k, m, s, e in finder(source, max_depth)]


def analyze(
    expression: CompiledExpression | str,
    inputs: Mapping[Any, Domain] | _ArrowSchemaExporter | None = None,
    *,
    max_depth: int | None = None,
) -> Analysis:
    """Analyze an expression for inputs inside the given domains.

    `inputs` maps variable names to Arrow types (texts such as "decimal128(18, 2)",
    "int32", "float64", "utf8", or objects with `__arrow_c_schema__`) or to
    `(low, high)` / `(low, high, max_scale)` tuples; or is one Arrow schema for
    a whole table. Variables not given may be any Decimal.

    Returns an `Analysis`: the largest gas, the interval and scales of the
    result, every possible failure (with an input that triggers it when one was
    found), and warnings about text that probably means something else.
    """
    depth = 15 if max_depth is None else max_depth
    if isinstance(expression, str):
        if not 1 <= depth <= 1024:
            raise ValueError("max_depth must be between 1 and 1024")
        source: str | None = expression
        text = expression
        compiled: CompiledExpression | None = None
    elif isinstance(cast(object, expression), CompiledExpression):
        source, state_depth = expression.__reduce__()[2]
        depth = state_depth if max_depth is None else depth
        text = source if source is not None else expression.to_bytecode_json()
        compiled = expression
    else:
        raise TypeError("expression must be a str or a CompiledExpression")
    domains = _domains(inputs)
    outcome = _analysis.analyze(text, depth, source is None, domains, _WITNESS_BUDGET)
    variables, gas, has_result, lo, hi, min_scale, max_scale, raw_failures, raw_warnings, spans = outcome
    floats = {d[0] for d in domains if d[8]}

    def span(pc: int) -> tuple[int | None, int | None]:
        if spans is None or pc < 0 or pc >= len(spans):
            return (None, None)
        return spans[pc][0], spans[pc][1]

    failures: list[Failure] = []
    checked: dict[int, dict[str, Decimal | float] | None] = {}  # witnesses shared by several failures
    for kind, message, prefix, pc, witness_texts, _from_reading in raw_failures:
        witness: dict[str, Decimal | float] | None = None
        if witness_texts is not None:
            key = id(witness_texts)
            if key in checked:
                witness = checked[key]
            else:
                if compiled is None:
                    compiled = CompiledExpression(expression, depth) if source is not None else None  # type: ignore[arg-type]
                witness = checked[key] = _checked_witness(compiled, variables, witness_texts, floats, message, prefix)
        start, end = span(pc)
        failures.append(Failure(kind, message, start, end, witness))
    warnings = _syntax_warnings(source, depth)
    for kind, message, pc in raw_warnings:
        start, end = span(pc)
        warnings.append(AnalysisWarning(kind, message, start, end))
    from decimal import Decimal

    result = (Decimal(lo) if lo is not None else None, Decimal(hi) if hi is not None else None)
    return Analysis(variables, gas, result, (min_scale, max_scale), failures, warnings, source, has_result)


def _checked_witness(
    compiled: CompiledExpression | None,
    variables: list[str],
    texts: tuple[str, ...],
    floats: set[str],
    message: str,
    prefix: bool,
) -> dict[str, Decimal | float] | None:
    """The witness as `evaluate` takes it, kept only if `evaluate` really fails so."""
    from decimal import Decimal

    witness: dict[str, Decimal | float] = {}
    for name, text in zip(variables, texts):
        witness[name] = float(text) if name in floats else Decimal(text)
    if compiled is None:
        return witness
    try:
        compiled.evaluate(witness)
    except (ArithmeticError, RuntimeError, ValueError) as e:
        got = str(e)
        if got == message or (prefix and got.startswith(message)):
            return witness
        return None
    return None
