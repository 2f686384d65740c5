from decimal import Decimal
from typing import Any

def instruction_spans(source: str, max_depth: int, /) -> list[tuple[int, int, int, int]]: ...
def syntax_warnings(source: str, max_depth: int, /) -> list[tuple[str, str, int, int]]: ...
def prepare(
    program_json: str, source: str | None, max_depth: int | None, /
) -> tuple[object, list[str], list[tuple[int, int]] | None, list[str]]: ...
def trace(prepared: object, values: list[Decimal | None], gas: int | None, /) -> tuple[object, tuple[str, str], int, int]: ...
def steps(recorded: object, /) -> list[tuple[Any, ...]]: ...
_Domain = tuple[str, str | None, str | None, int, int, bool, str | None, bool, bool]
_Failure = tuple[str, str, bool, int, tuple[str, ...] | None, bool]
_Outcome = tuple[
    list[str],
    int | None,
    bool,
    str | None,
    str | None,
    int,
    int,
    list[_Failure],
    list[tuple[str, str, int]],
    list[tuple[int, int, int, int]] | None,
]

def analyze(
    text: str, max_depth: int, from_json: bool, domains: list[_Domain] | tuple[_Domain, ...], witness_budget: int, /
) -> _Outcome: ...
def arrow_formats(obj: object, /) -> tuple[str, str, list[tuple[str, str]]]: ...
