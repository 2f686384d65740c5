"""The output type of a stream, fixed before its first row from the static analysis."""

from __future__ import annotations

import importlib
from collections.abc import Mapping
from typing import Any

from ._lib import CompiledExpression


def _text(expression: CompiledExpression) -> str:
    source = expression.__reduce__()[2][0]
    return source if source is not None else "the expression"


def value_domain(value: Any) -> tuple[Any, ...]:
    """The one value of a variable given through `vars`, at its own scale."""
    from decimal import Decimal

    number = Decimal(repr(value)) if isinstance(value, float) else Decimal(str(value))
    exponent = number.as_tuple().exponent
    if not isinstance(exponent, int):  # not finite: the call reports it
        return (number, number)
    return (number, number, max(0, -exponent))


def output_scale(expression: CompiledExpression, types: Mapping[str, Any], name: str) -> int:
    """The scale S of decimal128(38, S) that holds every result of `expression`.

    `types` maps each variable read from a column to its Arrow type text, and
    each variable given a value to a `(v, v)` domain. Raises ValueError, asking
    for `scale=`, when the analysis cannot bound the results in decimal128(38, S).
    """
    message = (f"the result of {_text(expression)!r} (output {name!r}) has no bounded decimal128(38, S) type "
               "over these columns; pass scale= to fix the output type")
    package: Any = importlib.import_module("py_vexlor")
    analyze: Any = getattr(package, "analyze", None)
    if analyze is None:  # no static analysis in this build
        raise ValueError(message)
    analysis: Any = analyze(expression, dict(types))
    low: Any
    high: Any
    low, high = analysis.result
    scale = int(analysis.scales[1])
    if low is None or high is None or not 0 <= scale <= 38:
        raise ValueError(message)
    from decimal import Decimal

    bound = Decimal(10) ** (38 - scale)
    if abs(Decimal(low)) >= bound or abs(Decimal(high)) >= bound:
        raise ValueError(message)
    return scale
