"""The command line: evaluate one expression with variables given as name=value,
or for every row of a CSV or Parquet file (--input; see py_vexlor.cli_table).

    vexlor [-h] [--version] [--gas N] [--max-depth N] [--input FILE [--output FILE] ...]
           EXPRESSION [name=value ...]

Values are handed to the evaluation as text, exactly as typed. The result is
printed on standard output. A mistake on the command line exits with status 2
(argparse's convention); an error of the evaluation is printed on standard error
and exits with status 1.
"""

from __future__ import annotations

import argparse
import re
import sys
import unicodedata
from collections.abc import Sequence

from . import __version__, cli_analysis
from ._lib import CompiledExpression, evaluate
from .cli_table import InputError, Options, evaluate_file

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
_KEYWORDS = frozenset({"and", "or", "not"})
_HYPHENATED = r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"
# The UUID forms the evaluation accepts as keys: 32 digits, hyphenated, braced, URN.
_UUID = re.compile(rf"[0-9A-Fa-f]{{32}}|{_HYPHENATED}|\{{{_HYPHENATED}\}}|urn:uuid:{_HYPHENATED}")
_INT64 = range(-(2**63), 2**63)
# Positions in parse errors: byte offsets into the UTF-8 text (a span is start:end).
_TOKEN_SPAN = re.compile(r"^Parse error: Unrecognized token `.*` found at (\d+):(\d+)$")
_POINT = re.compile(r"^Parse error: (?:Invalid token|Unrecognized EOF found) at (\d+)$")


def _int64(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an integer, got {text!r}") from None
    if value not in _INT64:
        raise argparse.ArgumentTypeError(f"{text} does not fit in a signed 64-bit integer")
    return value


def build_parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        usage="%(prog)s [-h] [--version] [--gas N] [--max-depth N] [--input FILE [--output FILE] ...] "
              "EXPRESSION [name=value ...]",
        description="Evaluate an expression with exact decimal arithmetic.",
        epilog="An expression may start with '-'; use -- before it if it looks like an option.",
        allow_abbrev=False,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    parser.add_argument("--gas", type=_int64, metavar="N", help="gas limit of the evaluation")
    parser.add_argument("--max-depth", type=_int64, metavar="N",
                        help="nesting depth bound (1..1024, default 15)")
    table = parser.add_argument_group(
        "tables", "with --input, every row of FILE is evaluated, its columns being the variables "
        "(name=value arguments give every row the same value); one result per row is written")
    table.add_argument("--input", metavar="FILE", help="a CSV file with a header row, or a .parquet file")
    table.add_argument("--output", metavar="FILE",
                       help="where the results go: CSV (default: standard output), or Parquet for .parquet")
    table.add_argument("--errors", choices=("raise", "null"), default="raise",
                       help="a failing row stops the run (raise, the default) or gives an empty result (null)")
    table.add_argument("--scale", type=_int64, metavar="S", help="round every result to S places")
    table.add_argument("--threads", type=_int64, metavar="N", help="threads (default: every core)")
    table.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                       help="a progress bar on standard error (default: on a terminal, for long inputs)")
    parser.add_argument("expression", metavar="EXPRESSION", help="the expression, e.g. 'a + b * 2'")
    parser.add_argument("variables", nargs="*", default=[], metavar="name=value",
                        help="variables: an identifier or a UUID, '=', a decimal number, e.g. a=1 b=2.50")
    return parser


def _options_first(parser: argparse.ArgumentParser, argv: Sequence[str]) -> list[str]:
    """Puts the options first and everything else after "--", so that an expression
    such as "-x * 2" is never taken for an option."""
    takes_value = {name: action.nargs != 0 for action in parser._actions for name in action.option_strings}
    options: list[str] = []
    positionals: list[str] = []
    args = iter(argv)
    for arg in args:
        name = arg.partition("=")[0]
        if arg == "--":
            positionals.extend(args)
        elif arg in takes_value and takes_value[arg]:
            value = next(args, None)
            options.append(arg if value is None else f"{arg}={value}")
        elif name in takes_value and (takes_value[name] or arg == name):
            options.append(arg)
        else:
            positionals.append(arg)
    return [*options, "--", *positionals] if positionals else options


def _variables(parser: argparse.ArgumentParser, assignments: Sequence[str]) -> dict[str, str]:
    variables: dict[str, str] = {}
    seen: dict[str, str] = {}
    for arg in assignments:
        name, sep, value = arg.partition("=")
        if not sep:
            parser.error(f"argument {arg!r}: expected name=value")
        if _UUID.fullmatch(name):
            key = re.sub(r"[^0-9a-f]", "", name.lower().removeprefix("urn:uuid:"))
        elif _IDENTIFIER.fullmatch(name) and name not in _KEYWORDS:
            key = name
        else:
            what = "a keyword" if name in _KEYWORDS else "neither an identifier nor a UUID"
            parser.error(f"argument {arg!r}: the name {name!r} is {what}")
        if key in seen:
            parser.error(f"argument {arg!r}: {name!r} is already given by {seen[key]!r}")
        seen[key] = arg
        variables[name] = value
    return variables


def _columns(text: str) -> int:
    """The width of text on a terminal (wide characters take two columns)."""
    return sum(0 if unicodedata.combining(c) else 2 if unicodedata.east_asian_width(c) in "WF" else 1
               for c in text)


def _pointer(expression: str, message: str) -> str | None:
    """The line of the expression that a parse error points at, with carets under
    the characters of its byte span; None when the message gives no position."""
    first_line = message.partition("\n")[0]
    if span := _TOKEN_SPAN.match(first_line):
        start, end = int(span[1]), int(span[2])
    elif point := _POINT.match(first_line):
        start = end = int(point[1])
    else:
        return None
    data = expression.encode()
    before = data[:start].decode(errors="replace")
    marked = data[start:end].decode(errors="replace")
    line_start = before.rfind("\n") + 1
    line_end = expression.find("\n", len(before))
    line = expression[line_start:] if line_end < 0 else expression[line_start:line_end]
    lead = "".join(c if c == "\t" else " " * _columns(c) for c in before[line_start:])
    # A point (an invalid character, the end of the text) is marked by one caret.
    width = max(1, _columns(marked)) if end > start else max(1, _columns(expression[len(before):len(before) + 1]))
    return f"  {line}\n  {lead}{'^' * width}"


def main(argv: Sequence[str] | None = None, prog: str = "vexlor") -> int:
    if cli_analysis.wants_analysis(sys.argv[1:] if argv is None else argv):  # --check, --explain
        return cli_analysis.main(sys.argv[1:] if argv is None else argv, prog)
    parser = build_parser(prog)
    args = parser.parse_args(_options_first(parser, sys.argv[1:] if argv is None else argv))
    variables = _variables(parser, args.variables)
    if args.input is None:
        for name in ("output", "scale", "threads", "progress"):
            if getattr(args, name) is not None:
                parser.error(f"argument --{name}: only with --input")
    try:
        if args.input is None:
            print(evaluate(args.expression, variables, gas=args.gas, max_depth=args.max_depth))
            return 0
        expression = CompiledExpression(args.expression, max_depth=args.max_depth)
        options = Options(args.gas, args.errors, args.scale, args.threads, args.progress)
        evaluate_file(expression, args.input, args.output, variables, options)
        return 0
    except InputError as error:
        parser.error(str(error))
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        print(f"error: {type(error).__name__}: {error}", file=sys.stderr)
        for note in getattr(error, "__notes__", ()):
            print(note, file=sys.stderr)
        pointer = _pointer(args.expression, str(error))
        if pointer is not None:
            print(pointer, file=sys.stderr)
            print("(positions in the message are byte offsets into the UTF-8 text; a span is start:end)",
                  file=sys.stderr)
        return 1
