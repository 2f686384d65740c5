"""How the command line shows a parse error: the exception's first line as it is,
then the expression with carets under the offending characters, then the tokens
that could have come there, in words."""

from __future__ import annotations

import re
import unicodedata

# Positions in parse errors: byte offsets into the UTF-8 text (a span is start:end).
_TOKEN_SPAN = re.compile(r"^Parse error: Unrecognized token `.*` found at (\d+):(\d+)$")
_POINT = re.compile(r"^Parse error: (?:Invalid token|Unrecognized EOF found) at (\d+)$")
_EXPECTED = re.compile(r'r#".*?"#|"[^"]*"')
_WORDS = {
    r'r#"-?\\d+(\\.\\d+)?([eE][+-]?\\d+)?"#': "a number",
    r'r#"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"#': "a UUID",
    r'r#"[a-zA-Z_][a-zA-Z0-9_]*"#': "an identifier",
}
NOTE = "(positions in the message are byte offsets into the UTF-8 text; a span is start:end)"


def _columns(text: str) -> int:
    """The width of text on a terminal (wide characters take two columns)."""
    return sum(0 if unicodedata.combining(c) else 2 if unicodedata.east_asian_width(c) in "WF" else 1
               for c in text)


def pointer(expression: str, message: str) -> str | None:
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


def expected_in_words(message: str) -> str | None:
    """"expected a number, an identifier, "(" or "-"" from the message's list, or None."""
    _, found, listed = message.partition("\nExpected one of ")
    if not found:  # after a complete expression, a token that nothing may follow
        return "expected the end of the expression" if _TOKEN_SPAN.match(message) else None
    items: list[str] = _EXPECTED.findall(listed)
    words = [_WORDS[item] if item in _WORDS else item for item in items]
    if len(words) == 1:
        return f"expected {words[0]}"
    return f"expected one of {', '.join(words[:-1])} or {words[-1]}"


def display(expression: str, message: str) -> list[str]:
    """The lines shown on standard error after "error: ValueError: " for a parse error."""
    lines = [message.partition("\n")[0]]
    if (carets := pointer(expression, message)) is not None:
        lines.append(carets)
    if (expected := expected_in_words(message)) is not None:
        lines.append(expected)
    if carets is not None:
        lines.append(NOTE)
    return lines
