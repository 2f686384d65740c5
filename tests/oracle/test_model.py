#!/usr/bin/env python3
"""Checks the oracle model itself against the documented worked examples.

Run: python3 tests/oracle/test_model.py   (exit status non-zero on failure)
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model as m  # noqa: E402


def d(t):
    r = m.from_str(t.encode())
    assert r[0] != "err", (t, r)
    return r


def show(r):
    if isinstance(r, tuple):
        return r[1] if r[0] == "err" else m.text(r)
    return r


MAXS = "79228162514264337593543950335"
TINY = "0.0000000000000000000000000001"

BINARY = [
    # addition / subtraction
    (m.add, "0.000", "1.5", "1.5"), (m.sub, "0", "1.5", "-1.5"), (m.sub, "0.00", "0", "0"),
    (m.add, "1.10", "2.205", "3.305"), (m.sub, "1.5", "1.50", "0.00"), (m.add, "0.5", "0.5", "1.0"),
    (m.add, "-1", "1", "0"), (m.sub, "1.5", "1.5", "0.0"), (m.add, "1.5", "0.000", "1.5"),
    (m.add, MAXS, "0.4", MAXS), (m.add, "79228162514264337593543950334", "0.5", "79228162514264337593543950334"),
    (m.add, MAXS, "0.5", "overflow"), (m.add, MAXS, "1", "overflow"),
    # multiplication
    (m.mul, "1.5", "1.5", "2.25"), (m.mul, "1.00", "2.000", "2.00000"), (m.mul, "1.1", "1.1", "1.21"),
    (m.mul, "2.5", TINY, "0.0000000000000000000000000002"), (m.mul, "1.5", TINY, "0.0000000000000000000000000002"),
    (m.mul, "-0.4", TINY, "0.0000000000000000000000000000"), (m.mul, "0.5", TINY, "0.0000000000000000000000000000"),
    (m.mul, "0.0000000000001", "0.00000000000000001", "0.0000000000000000000000000000"),
    (m.mul, MAXS, "2", "overflow"), (m.mul, "0.00", "1.5", "0"), (m.mul, "-1", "0", "0"),
    # division
    (m.div, "1", "3", "0.3333333333333333333333333333"), (m.div, "2", "3", "0.6666666666666666666666666667"),
    (m.div, "-1", "3", "-0.3333333333333333333333333333"), (m.div, "1", "-3", "-0.3333333333333333333333333333"),
    (m.div, "100", "3", "33.333333333333333333333333333"), (m.div, "2", "7", "0.2857142857142857142857142857"),
    (m.div, "1", "2", "0.50"), (m.div, "5", "2", "2.50"), (m.div, "10", "4", "2.50"), (m.div, "1", "5", "0.20"),
    (m.div, "3", "4", "0.75"), (m.div, "1", "8", "0.125"), (m.div, "1", "16", "0.0625"),
    (m.div, "1.00", "8", "0.1250"), (m.div, "1.000", "8", "0.125"), (m.div, "2", "0.5", "4.0"),
    (m.div, "1", "0.5", "2.0"), (m.div, "100", "4", "25"), (m.div, "1", "1000", "0.001"),
    (m.div, "1", "0.01", "100"), (m.div, "1.00", "1", "1.00"), (m.div, "6.00", "4", "1.50"),
    (m.div, "3.0", "1.5", "2"), (m.div, "0.000", "5", "0"), (m.div, MAXS, "0.1", "overflow"),
    (m.div, "1", "0", "divbyzero"), (m.div, "0", "0", "divbyzero"),
    (m.div, "-21160646375459446590327114.227", "-701.3126133329006928513461595", "30172915719989855710462.20027"),
    # remainder
    (m.rem, "1", "3", "1"), (m.rem, "5.674", "387084875782.9", "5.674"), (m.rem, "5", "3", "2"),
    (m.rem, "-5", "3", "-2"), (m.rem, "5", "-3", "2"), (m.rem, "5.5", "2", "1.5"), (m.rem, "4", "2", "0"),
    (m.rem, "4.0", "2", "0.0"), (m.rem, "-4", "2", "0"), (m.rem, "-92", "0.000055", "-0.000015"),
    (m.rem, "2.0", "2", "0"), (m.rem, "1", "0", "divbyzero"),
]

PARSE = [
    ("0.12345678901234567890123456784999", "0.1234567890123456789012345678"),
    ("0.0000000000000000000000000001_9", "0.0000000000000000000000000001"),
    ("0.1234567890123456789012345678_9", "0.1234567890123456789012345679"),
    ("0.12345678901234567890123456789", "0.1234567890123456789012345679"),
    ("1.99999999999999999999999999999", "2.0000000000000000000000000000"),
    ("9.9999999999999999999999999999", "10.000000000000000000000000000"),
    ("7922816251426433759354395033.55", "7922816251426433759354395034"),
    ("79228162514264337593543950335.4", MAXS),
    ("79228162514264337593543950335.5", "Invalid decimal: overflow from mantissa after rounding"),
    ("79228162514264337593543950336", "Invalid decimal: overflow from too many digits"),
    ("0.00000000000000000000000000000001", "0.0000000000000000000000000000"),
    ("-0.00", "0.00"), ("-0", "0"), ("+0.000", "0.000"), ("1.", "1"), (".5", "0.5"), ("-.5", "-0.5"),
    (".", "Invalid decimal: no digits found"), ("-", "Invalid decimal: no digits found"),
    ("+", "Invalid decimal: no digits found"), ("-.", "Invalid decimal: no digits found"),
    (" 1", "Invalid decimal: unknown character"), ("1 ", "Invalid decimal: unknown character"),
    ("1.2.3", "Invalid decimal: two decimal points"), ("--1", "Invalid decimal: unknown character"),
    ("", "Invalid decimal: empty"), ("1_000", "1000"), ("1__0", "10"), ("1_", "1"), ("1._5", "1.5"),
    ("_1", "Invalid decimal: must start lead with a number"), ("+_1", "Invalid decimal: must start lead with a number"),
    ("._1", "Invalid decimal: must start lead with a number"),
    ("0.12345678901234567890123456789x", "0.1234567890123456789012345679"),
    ("0.12345678901234567890123456789e5", "Invalid decimal: unknown character"),
]

SCI = [
    ("1e5", "100000"), ("1.5E-3", "0.0015"), ("-1.5e-3", "-0.0015"), ("1e-28", TINY),
    ("1e-29", "Scale exceeds the maximum precision allowed: 29 > 28"),
    ("1.5e-28", "Scale exceeds the maximum precision allowed: 29 > 28"),
    ("1e28", "10000000000000000000000000000"), ("9e28", "Number exceeds maximum value that can be represented."),
    ("1e5e6", "Failed to parse"), ("1e", "Failed to parse"), ("1e 5", "Failed to parse"), ("1e--5", "Failed to parse"),
    ("1e-+5", "0.00001"), ("1e+3", "1000"), ("2.50e1", "25.0"), ("1e29", "Scale exceeds the maximum precision allowed: 29 > 28"),
    ("0.1e29", "Scale exceeds the maximum precision allowed: 29 > 28"), ("1.5e3", "1500"), ("1.50e3", "1500"),
    ("0e5", "0"), ("e5", "Invalid decimal: empty"), ("1.50e1", "15.0"), ("15", "Failed to parse"),
]

F64 = [
    (0.1, "0.1"), (0.30000000000000004, "0.3"), (1 / 3, "0.3333333333333333"), (2 / 3, "0.666666666666667"),
    (123456789.12345679, "123456789.1234568"), (1e15 + 0.3, "1000000000000000"), (1e20, "100000000000000000000"),
    (1e28, "9999999999999999583119736832"), (8e28, None), (1.7976931348623157e308, None), (1e-28, TINY),
    (1e-29, "0"), (5e-324, "0"), (-0.0, "-0"), (0.0, "0"), (float("nan"), None), (float("inf"), None),
]

ROUND = [
    ("2.5", 0, "2"), ("-2.5", 0, "-2"), ("1.5", 0, "2"), ("0.5", 0, "0"), ("-0.5", 0, "0"), ("1.45", 0, "1"),
    ("-2.50", 0, "-2"), ("1.2345", 2, "1.23"), ("1.235", 2, "1.24"), ("1.245", 2, "1.24"), ("1.2450", 2, "1.24"),
    ("-1.245", 2, "-1.24"), ("1.20", 1, "1.2"), ("123.456", 0, "123"), ("-0.005", 2, "0.00"), ("1.2", 5, "1.2"),
    ("1.5", 30, "1.5"), ("7.9228162514264337593543950335", 27, "7.922816251426433759354395034"),
]

FLOOR = [("1.5", "1"), ("-1.5", "-2"), ("-0.001", "-1"), ("2.00", "2"), ("0.000", "0"), ("-1.0", "-1")]
CEIL = [("1.5", "2"), ("-1.5", "-1"), ("1.50", "2"), ("-0.5", "-0"), ("-0.4", "-0"), ("-0.001", "-0"), ("0.000", "0")]

SQRT = [
    ("4", "2"), ("9", "3.000000000000000000000000000"), ("16.0", "4.000000000000000000000000000"),
    ("2", "1.4142135623730950488016887242"), ("3", "1.7320508075688772935274463415"),
    ("10", "3.1622776601683793319988935444"), ("0.25", "0.500000000000000000000"),
    ("1.44", "1.2000000000000000000000000000"), ("2.25", "1.5000000000000000000000000000"),
    ("1.00", "1.0000000000000000000000000000"), ("100", "10.000000000000000000000000000"),
    ("0.0001", "0.0100000000000000000000000000"), (TINY, "0.0000000000000100000000000000"),
    (MAXS, "281474976710656.00000000000000"), ("0", "0"),
]

POWI = [
    ("2", -1, "0.50"), ("2", -2, "0.25"), ("3", -1, "0.3333333333333333333333333333"), ("10", -28, TINY),
    ("10", -29, "nothing"), ("1.10", 2, "1.2100"), ("2.0", 2, "4.00"), ("1.10", 3, "1.331"), ("2.00", 4, "16"),
    ("2.0", 3, "8"), ("1.5", 3, "3.375"), ("0.1", 3, "0.001"), ("2", 10, "1024"), ("-2", 3, "-8"), ("-2", 2, "4"),
    ("10", 28, "10000000000000000000000000000"), ("10", 29, "nothing"), ("2", 96, "nothing"), ("2", 100, "nothing"),
    ("0.05", -22, "41943040000000000000000000000"), ("0", -1, "nothing"), ("1.00", 7, "1"),
]

TEXTS = [(("R0:5:3"), "0.005")]


def main():
    fails = 0

    def check(what, got, want):
        nonlocal fails
        if got != want:
            fails += 1
            print("FAIL %s: got %r, want %r" % (what, got, want))

    for fn, a, b, want in BINARY:
        check("%s(%s, %s)" % (fn.__name__, a, b), show(fn(d(a), d(b))), want)
    for t, want in PARSE:
        check("from_str(%r)" % t, show(m.from_str(t.encode())), want)
    for t, want in SCI:
        check("from_scientific(%r)" % t, show(m.from_scientific(t.encode())), want)
    for x, want in F64:
        r = m.from_f64_bits(m.f64_bits(x))
        check("from_f64(%r)" % x, None if r is None else m.text(r), want)
    for t, dp, want in ROUND:
        check("round_dp(%s, %d)" % (t, dp), m.text(m.round_dp(d(t), dp)), want)
    for t, want in FLOOR:
        check("floor(%s)" % t, m.text(m.floor(d(t))), want)
    for t, want in CEIL:
        check("ceil(%s)" % t, m.text(m.ceil(d(t))), want)
    for t, want in SQRT:
        check("sqrt(%s)" % t, show(m.sqrt(d(t))), want)
    check("sqrt(-0)", m.sqrt(m.neg(m.ZERO)), m.NOTHING)
    for t, n, want in POWI:
        check("powi(%s, %d)" % (t, n), show(m.powi(d(t), n)), want)
    check("powd(0, -1)", show(m.powd_exact(d("0"), d("-1"))), "0")
    check("powd(7, 1.0)", show(m.powd_exact(d("7"), d("1.0"))), "7")
    check("powd(1.00, 7)", show(m.powd_exact(d("1.00"), d("7"))), "1")
    p = m.powi(d("0.3"), -50)
    check("powi(0.3, -50)", p, m.round_fraction(m.Fraction(10, 3) ** 50))
    check("text(0.005)", m.text((False, 5, 3)), "0.005")
    check("text(-0.00)", m.text((True, 0, 2)), "-0.00")
    check("to_u64(3.99)", m.to_u64(d("3.99")), 3)
    check("to_u64(-0)", m.to_u64((True, 0, 0)), None)
    check("to_u64(2^64)", m.to_u64(d("18446744073709551616")), None)
    check("fract(-1.5)", m.text(m.fract(d("-1.5"))), "-0.5")
    check("fract(2.30)", m.text(m.fract(d("2.30"))), "0.30")
    check("cmp(-2, -1.9)", m.cmp(d("-2"), d("-1.9")), -1)
    check("cmp(1.5, 1.50)", m.cmp(d("1.5"), d("1.50")), 0)
    check("textp(1.5, 30)", m.text_prec(d("1.5"), 30), ("1.5000000000000000000000000000", 2))
    print("model self-test: %d failure(s)" % fails)
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main())
