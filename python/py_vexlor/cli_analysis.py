"""The command line's two analysis modes (see py_vexlor.cli):

    vexlor --check EXPRESSION [name=DOMAIN ...] [--max-depth N]
    vexlor --explain EXPRESSION [name=value ...] [--gas N] [--max-depth N]

--check prints what py_vexlor.analyze finds (worst-case gas, result range and
scale, every possible failure with an input that causes it, warnings) and exits
with status 1 when a failure is possible, 0 when none is. A DOMAIN is an Arrow
type text (decimal128(18,2), int64, float64, ...) or LOW..HIGH (0..1000,
0.00..99.99): the values between the bounds with at most as many decimals as
the bounds are written with. A variable without a domain may be any decimal.

--explain prints the evaluation step by step (py_vexlor.explain) and exits with
status 1 when it fails, 0 when it gives a result. Values are handed to the
evaluation as text, exactly as typed.

A mistake on the command line exits with status 2.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from decimal import Decimal, InvalidOperation

from . import _analysis
from ._explain import explain
from ._lib import CompiledExpression

_MODES = ("--check", "--explain")


def wants_analysis(argv: Sequence[str]) -> bool:
    """Whether the arguments ask for one of the analysis modes (before any "--")."""
    head = list(argv)
    if "--" in head:
        head = head[: head.index("--")]
    return any(a in _MODES for a in head)


def _parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        usage="%(prog)s --check EXPRESSION [name=DOMAIN ...] [--max-depth N]\n"
        "       %(prog)s --explain EXPRESSION [name=value ...] [--gas N] [--max-depth N]",
        description="Analyse an expression before it runs, or show one evaluation step by step.",
        epilog="DOMAIN: an Arrow type (decimal128(18,2), int64, float64, ...) or LOW..HIGH (0..1000, 0.00..99.99: "
        "at most as many decimals as the bounds are written with). Exit status: 0 no failure, 1 a failure "
        "(possible with --check, happened with --explain), 2 a mistake on the command line. An expression that "
        "starts with '-' goes after --.",
        allow_abbrev=False,
    )
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--check", action="store_true", help="print the analysis; status 1 when a failure is possible")
    mode.add_argument("--explain", action="store_true", help="print the evaluation step by step")
    parser.add_argument("--gas", type=int, metavar="N", help="gas limit of the evaluation (--explain)")
    parser.add_argument("--max-depth", type=int, metavar="N", help="nesting depth bound (1..1024, default 15)")
    parser.add_argument("words", nargs="*", metavar="EXPRESSION [name=VALUE ...]")
    return parser


def _pairs(parser: argparse.ArgumentParser, assignments: Sequence[str]) -> dict[str, str]:
    pairs: dict[str, str] = {}
    for item in assignments:
        name, sep, value = item.partition("=")
        if not sep or not name:
            parser.error(f"expected name=value, got {item!r}")
        if name in pairs:
            parser.error(f"variable {name!r} given twice")
        pairs[name] = value
    return pairs


def _domain(parser: argparse.ArgumentParser, name: str, text: str) -> str | tuple[Decimal, Decimal, int]:
    """An Arrow type text as it is, or LOW..HIGH as (low, high, max_scale)."""
    low_text, sep, high_text = text.partition("..")
    if not sep:
        return text
    try:
        low, high = Decimal(low_text.strip()), Decimal(high_text.strip())
    except InvalidOperation:
        parser.error(f"domain of {name!r}: expected LOW..HIGH with decimal bounds, got {text!r}")
    if not (low.is_finite() and high.is_finite()) or low > high:
        parser.error(f"domain of {name!r}: expected finite bounds with LOW <= HIGH, got {text!r}")
    scale = max(0, -int(low.as_tuple().exponent), -int(high.as_tuple().exponent))
    return (low, high, scale)


def main(argv: Sequence[str], prog: str = "vexlor") -> int:
    parser = _parser(prog)
    argv = list(argv)
    rest: list[str] = []
    if "--" in argv:  # everything after it is words, whatever they look like
        at = argv.index("--")
        argv, rest = argv[:at], argv[at + 1 :]
    args = parser.parse_intermixed_args(argv)
    words = args.words + rest
    if not words:
        parser.error("the following arguments are required: EXPRESSION")
    expression = words[0]
    pairs = _pairs(parser, words[1:])
    if args.check and args.gas is not None:
        parser.error("argument --gas: only with --explain")
    try:
        if args.check:
            return _check(parser, expression, pairs, args.max_depth)
        trace = explain(expression, dict(pairs), gas=args.gas, max_depth=args.max_depth)
        warnings = _analysis.syntax_warnings(expression, trace_depth(args.max_depth))
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        print(f"error: {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    print(trace)
    for _, message, _, _ in warnings:
        print(f"warning: {message}")
    return 1 if trace.error is not None else 0


def trace_depth(max_depth: int | None) -> int:
    return 15 if max_depth is None else max_depth


def _check(parser: argparse.ArgumentParser, expression: str, pairs: dict[str, str], max_depth: int | None) -> int:
    domains = {name: _domain(parser, name, text) for name, text in pairs.items()}
    analyze = getattr(sys.modules[__package__ or "py_vexlor"], "analyze", None)
    if analyze is None:
        print("error: the analysis is not available in this build of py_vexlor", file=sys.stderr)
        return 2
    compiled = CompiledExpression(expression, max_depth)
    analysis = analyze(compiled, domains)
    print(analysis)
    return 1 if analysis.failures else 0
