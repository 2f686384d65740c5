"""The README's Python examples run as written: blocks with ">>>" as doctests; other
blocks are run line by line, and where a line's trailing comment begins with a value
(`# Decimal('11')`, `# ['a', 'b'] ...`) the line's expression must equal it. A block
that imports an optional library not installed here is skipped; recipes for other
systems (a cluster, files of the reader's own) are fenced `py` and not run."""

import ast
import doctest
import re
from decimal import Decimal
from pathlib import Path

import pytest

README = Path(__file__).parent.parent.parent / "README.md"
BLOCKS = re.findall(r"^```python\n(.*?)^```", README.read_text(encoding="utf-8"), re.S | re.M)


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_readme_example(block):
    if ">>>" in block:
        test = doctest.DocTestParser().get_doctest(block, {}, "README", str(README), 0)
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test)
        assert runner.summarize(verbose=False).failed == 0
        return
    namespace: dict[str, object] = {"Decimal": Decimal}
    checked = 0
    for line in block.splitlines():
        code, _, comment = (part.strip() for part in line.partition("  # "))
        statement = ast.parse(code).body
        if statement and isinstance(statement[0], ast.Expr):
            value = eval(code, namespace)
            shown = _leading_value(comment)
            if shown is not None:
                assert value == eval(shown, namespace), line
                checked += 1
        elif statement:
            try:
                exec(code, namespace)
            except ModuleNotFoundError as missing:
                pytest.skip(f"needs {missing.name}")
    assert checked > 0


def _leading_value(comment):
    """The longest start of the comment that is a Python literal or a Decimal(...) call."""
    for end in range(len(comment), 0, -1):
        text = comment[:end]
        try:
            tree = ast.parse(text, mode="eval").body
        except SyntaxError:
            continue
        if isinstance(tree, (ast.Constant, ast.List, ast.Tuple)) or (
                isinstance(tree, ast.Call) and isinstance(tree.func, ast.Name) and tree.func.id == "Decimal"):
            return text
    return None
