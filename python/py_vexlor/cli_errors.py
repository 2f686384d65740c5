"""The two kinds of failure of the command line's table mode, by exit status."""

from __future__ import annotations


class UsageError(Exception):
    """A mistake on the command line (exit status 2, with the usage)."""


class DataError(Exception):
    """A problem with the data: a file that cannot be read as a table, a missing
    column, a bad value (exit status 1)."""
