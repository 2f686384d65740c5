"""The command line: evaluate one expression with variables given as name=value,
or one or more expressions for every row of a CSV or Parquet file (--input; see
py_vexlor.cli_table).

Values are handed to the evaluation as text, exactly as typed. A mistake on the
command line exits with status 2 (argparse's convention, with the usage); an
evaluation error or a problem with the data is printed on standard error and exits
with status 1.
"""

from __future__ import annotations

import argparse
import os
import re
import signal
import sys
from collections.abc import Callable, Sequence
from typing import Any

from . import __version__, cli_analysis
from ._lib import CompiledExpression, evaluate
from .cli_batches import RowFailure
from .cli_errors import DataError, UsageError
from .cli_parse_error import display

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
_KEYWORDS = frozenset({"and", "or", "not"})
_HYPHENATED = r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"
# The UUID forms the evaluation accepts as keys: 32 digits, hyphenated, braced, URN.
_UUID = re.compile(rf"[0-9A-Fa-f]{{32}}|{_HYPHENATED}|\{{{_HYPHENATED}\}}|urn:uuid:{_HYPHENATED}")
_INT64 = range(-(2**63), 2**63)

USAGE = ("%(prog)s [-h] [--version] [--gas N] [--max-depth N] "
         "[--input FILE [--output FILE] [--expr NAME=EXPRESSION] [--keep COLS] ...] "
         "[EXPRESSION] [name=value ...]")
EPILOG = """\
examples:
  %(prog)s "round(price * (1 + rate), 2)" rate=0.075 --input prices.csv --output priced.csv
  %(prog)s --input trades.parquet --keep id --expr "value=qty * price" --scale 2 \\
      --output values.parquet
  gzip -dc prices.csv.gz | %(prog)s "price * 2" --input - | head

CSV input: a header row, then one row per evaluation; every field is read as the text
written there (never guessed), an empty field is null. A BOM and quoted fields are
accepted. A blank line is a null row in a one-column file and is skipped in any other.
CSV output: plain notation (never an exponent), exactly S places with --scale S and
each row's own value otherwise; a null is an empty field.
Parquet output: kept columns as read, then each output as decimal128(38, S), the scale
S fixed before the first row.
A file given to --output is written under a temporary name in its folder and renamed
into place only when the run succeeds: a failed or interrupted run leaves no partial
file (a device or a named pipe is written as the rows come). On standard output with --errors raise, rows before a failing one may already
be written. When standard output is closed early (| head), the run stops quietly with
status 0 (rather than dying of SIGPIPE). Parquet needs pyarrow (an optional extra).
Exit status: 0 done; 1 an evaluation error or a problem with the data; 2 a mistake
on the command line. An expression may start with '-'; use -- before it if it looks
like an option."""


def _integer(low: int, high: int | None = None) -> Callable[[str], int]:
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected an integer, got {text!r}") from None
        if value not in _INT64:
            raise argparse.ArgumentTypeError(f"{text} does not fit in a signed 64-bit integer")
        if value < low or (high is not None and value > high):
            bound = f"at least {low}" if high is None else f"between {low} and {high}"
            raise argparse.ArgumentTypeError(f"{text} is not {bound}")
        return value
    return convert


def _columns_list(text: str) -> list[str]:
    names = text.split(",")
    if "" in names:
        raise argparse.ArgumentTypeError(f"expected COL[,COL...], got {text!r}")
    return names


def build_parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog, usage=USAGE, epilog=EPILOG, allow_abbrev=False,
        description="Evaluate an expression with exact decimal arithmetic.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    parser.add_argument("--gas", type=_integer(0), metavar="N", help="gas limit of the evaluation")
    parser.add_argument("--max-depth", type=_integer(1, 1024), metavar="N",
                        help="nesting depth bound (1..1024, default 15)")
    table = parser.add_argument_group(
        "tables", "with --input, every row of FILE is evaluated, its columns being the variables "
        "(name=value arguments give every row the same value)")
    table.add_argument("--input", metavar="FILE",
                       help="a CSV file with a header row ('-': standard input), or a .parquet file")
    table.add_argument("--output", metavar="FILE",
                       help="where the results go: CSV (default or '-': standard output), or Parquet for .parquet")
    table.add_argument("--expr", action="append", default=[], metavar="NAME=EXPRESSION",
                       help="one more output column NAME (repeatable); the positional expression is 'result'")
    table.add_argument("--keep", action="append", type=_columns_list, default=[], metavar="COL[,COL...]",
                       help="input columns written ahead of the results")
    table.add_argument("--errors", choices=("raise", "null"), default="raise",
                       help="a failing row stops the run (raise, the default) or gives an empty result (null)")
    table.add_argument("--scale", type=_integer(0, 38), metavar="S", help="round every result to S places (0..38)")
    table.add_argument("--threads", type=_integer(1, 1024), metavar="N", help="threads (default: every core)")
    table.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                       help="a progress bar on standard error (default: on a terminal, for long inputs)")
    parser.add_argument("arguments", nargs="*", default=[], metavar="EXPRESSION name=value",
                        help="the expression, e.g. 'a + b * 2' (optional with --expr); then variables: "
                             "an identifier or a UUID, '=', a decimal number, e.g. a=1 b=2.50")
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


def _is_name(name: str) -> bool:
    return bool(_UUID.fullmatch(name)) or (bool(_IDENTIFIER.fullmatch(name)) and name not in _KEYWORDS)


def _split(arguments: Sequence[str]) -> tuple[str | None, list[str]]:
    """The expression (the first argument that is not name=value) and the assignments."""
    for i, arg in enumerate(arguments):
        name, sep, value = arg.partition("=")
        if not (sep and _is_name(name) and not value.startswith("=")):
            return arg, [*arguments[:i], *arguments[i + 1:]]
    return None, list(arguments)


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


def _outputs(parser: argparse.ArgumentParser, expression: str | None, exprs: Sequence[str],
             keep: Sequence[str]) -> dict[str, str]:
    """Output name -> expression text: the positional expression is "result"."""
    outputs = {} if expression is None else {"result": expression}
    if "result" in outputs and "result" in keep:
        parser.error("argument --keep: 'result' names the positional expression's output already")
    for arg in exprs:
        name, sep, text = arg.partition("=")
        if not sep or not name:
            parser.error(f"argument --expr: expected NAME=EXPRESSION, got {arg!r}")
        if name in outputs or name in keep:
            what = "the positional expression" if name == "result" and expression is not None else "another column"
            parser.error(f"argument --expr: {name!r} names {what} already")
        outputs[name] = text
    return outputs


def _report(error: BaseException, expression: str, source: str | None = None) -> None:
    """An evaluation error on standard error: "error: Type: message", its notes, and for
    a parse error the expression with carets and the expected tokens in words."""
    message = str(error)
    if isinstance(error, ValueError) and message.startswith("Parse error: "):
        lines = display(expression, message)
        print(f"error: ValueError: {lines[0]}", *lines[1:], sep="\n", file=sys.stderr)
        if source is not None:
            print(f"(in {source})", file=sys.stderr)
        return
    print(f"error: {type(error).__name__}: {message}", file=sys.stderr)
    for note in getattr(error, "__notes__", ()):
        print(note, file=sys.stderr)


def _table(parser: argparse.ArgumentParser, args: Any, outputs: dict[str, str],
           variables: dict[str, str]) -> int:
    from .cli_table import Options, evaluate_file

    compiled: dict[str, CompiledExpression] = {}
    for name, text in outputs.items():
        try:
            compiled[name] = CompiledExpression(text, max_depth=args.max_depth)
        except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
            _report(error, text, None if name == "result" and len(outputs) == 1 else f"--expr {name}")
            return 1
    try:
        CompiledExpression("0").evaluate(variables)  # every value checked before the first row
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        _report(error, "")
        return 1
    keep = list(dict.fromkeys(c for group in args.keep for c in group))
    options = Options(args.gas, args.errors, args.scale, args.threads, args.progress)
    output = None if args.output in (None, "-") else args.output
    try:
        previous = signal.signal(signal.SIGTERM, _terminate)
    except ValueError:  # not the main thread
        previous = None
    try:
        evaluate_file(compiled, args.input, output, variables, keep, options)
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return 0


def _terminate(signum: int, frame: object) -> None:
    raise SystemExit(128 + signum)  # unwinds like Ctrl-C: no partial output file is left


def _quiet_stdout() -> None:
    """After a closed pipe: what is still buffered for standard output goes nowhere."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass


def main(argv: Sequence[str] | None = None, prog: str = "vexlor") -> int:
    if cli_analysis.wants_analysis(sys.argv[1:] if argv is None else argv):  # --check, --explain
        return cli_analysis.main(sys.argv[1:] if argv is None else argv, prog)
    parser = build_parser(prog)
    args = parser.parse_args(_options_first(parser, sys.argv[1:] if argv is None else argv))
    # Modes other than evaluation branch off here.
    expression, assignments = _split(args.arguments)
    variables = _variables(parser, assignments)
    if args.input is None:
        for name in ("output", "scale", "threads", "progress", "expr", "keep"):
            if getattr(args, name) not in (None, []):
                parser.error(f"argument --{name}: only with --input")
    if expression is None and not args.expr:
        parser.error("the following arguments are required: EXPRESSION")
    try:
        if args.input is None:
            assert expression is not None
            try:
                print(evaluate(expression, variables, gas=args.gas, max_depth=args.max_depth))
            except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
                _report(error, expression)
                return 1
            return 0
        keep = [c for group in args.keep for c in group]
        return _table(parser, args, _outputs(parser, expression, args.expr, keep), variables)
    except UsageError as error:
        parser.error(str(error))
    except DataError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    except RowFailure as failure:  # not explained by cli_table
        _report(failure.error, "")
        return 1
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        _report(error, "")
        return 1
    except BrokenPipeError:
        _quiet_stdout()
        return 0
    except OSError as error:  # a full disk, a failing device
        print(f"error: {error.strerror or error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
