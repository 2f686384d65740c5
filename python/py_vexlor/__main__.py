"""python -m py_vexlor: the command line (see py_vexlor.cli)."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main(prog="python -m py_vexlor"))
