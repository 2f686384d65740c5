"""Evaluate one expression from the command line.

    python -m py_vexlor EXPRESSION [name=value ...] [--gas N] [--max-depth N]

Values are read as exact decimals (text such as 1.50 keeps its scale). The
result is printed on standard output; an error is printed on standard error
and the exit status is 1.
"""

from __future__ import annotations

import argparse
import sys
from decimal import Decimal, InvalidOperation

from . import evaluate


def _parse_assignment(text: str) -> tuple[str, Decimal | str]:
    name, sep, value = text.partition("=")
    if not sep or not name:
        raise argparse.ArgumentTypeError(f"expected name=value, got {text!r}")
    try:
        return name, Decimal(value)
    except InvalidOperation:
        return name, value  # let the evaluator report the bad value in its own words


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m py_vexlor",
        description="Evaluate an expression with exact decimal arithmetic.",
    )
    parser.add_argument("expression", help="the expression, e.g. 'a + b * 2'")
    parser.add_argument("variables", nargs="*", type=_parse_assignment, metavar="name=value",
                        help="variable values, e.g. a=1 b=2.50")
    parser.add_argument("--gas", type=int, default=None, help="gas limit for the evaluation")
    parser.add_argument("--max-depth", type=int, default=None, help="nesting depth bound (1..1024, default 15)")
    args = parser.parse_args(argv)
    try:
        result = evaluate(args.expression, dict(args.variables), gas=args.gas, max_depth=args.max_depth)
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        print(f"error: {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    print(result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
