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

def instruction_spans(source: str, max_depth: int, /) -> list[tuple[int, int, int, int]]: ...
def analyze(
    text: str, max_depth: int, from_json: bool, domains: list[_Domain] | tuple[_Domain, ...], witness_budget: int, /
) -> _Outcome: ...
def arrow_formats(obj: object, /) -> tuple[str, str, list[tuple[str, str]]]: ...
