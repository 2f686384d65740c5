#!/usr/bin/env python3
"""Randomised differential test of the decimal type against an independent model.

Generates operands biased to the edges (zeros of every scale and sign, the
largest coefficient, scales 0 and 28, rounding ties, values near overflow,
near-equal magnitudes), computes the expected outcome with tests/oracle/model.py
(exact Python integers and fractions), streams the cases through the C++ driver
(tests/oracle/decimal_driver.cpp) in large batches and compares them bit for bit.

    differential.py --driver PATH --cases N --seed S [--ops add,sub,...]

N is the number of cases per operation (the slow operations sqrt, powi, powd and
powf run a fraction of N unless --full is given). The last line of output is
"<passed> passed, <failed> failed"; the exit status is non-zero on any mismatch.
"""

import argparse
import decimal
import os
import random
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model as m  # noqa: E402

MAX = m.MAX
BATCH = 50000


# ---------------------------------------------------------------- formatting

def raw(x):
    return "R%d:%x:%d" % (1 if x[0] else 0, x[1], x[2])


def expect(r):
    """The driver's line for a model outcome."""
    if isinstance(r, tuple):
        if r[0] == "err":
            return "err " + r[1]
        if r[0] == "fault":
            return "fault " + r[1]
        return "ok " + raw(r)
    return r  # overflow / divbyzero / nothing


def show(x):
    return m.text(x) if isinstance(x, tuple) and x and isinstance(x[0], bool) else str(x)


# ---------------------------------------------------------------- generators

def rand_coef(rng):
    r = rng.random()
    if r < 0.07:
        return 0
    if r < 0.13:
        return MAX - rng.randrange(0, 3)
    if r < 0.19:
        return 10 ** rng.randint(0, 28)
    if r < 0.24:
        return 5 * 10 ** rng.randint(0, 27)
    if r < 0.34:
        c = rng.randrange(1, 10 ** rng.randint(1, 20)) * 10 ** rng.randint(0, 12)
    elif r < 0.40:
        c = rng.randrange(1, 100)
    elif r < 0.46:
        c = (1 << rng.randint(0, 96)) + rng.randint(-2, 2)
    elif r < 0.56:
        j = rng.randint(1, 20)
        c = rng.randrange(0, 10 ** rng.randint(1, 10)) * 10 ** j + 5 * 10 ** (j - 1)
    elif r < 0.62:
        c = MAX // 10 ** rng.randint(1, 28) + rng.randint(-1, 1)
    else:
        c = rng.getrandbits(rng.randint(1, 96))
    return min(max(c, 0), MAX)


def rand_scale(rng):
    r = rng.random()
    if r < 0.15:
        return 0
    if r < 0.27:
        return 28
    return rng.randint(0, 28)


def rand_dec(rng):
    return (rng.random() < 0.5, rand_coef(rng), rand_scale(rng))


def small_dec(rng):
    """Operands of few digits: bases of powers, square roots of ordinary numbers."""
    r = rng.random()
    if r < 0.5:
        c = rng.randrange(0, 10 ** rng.randint(1, 6))
        s = rng.randint(0, min(6, len(str(c)) + 2))
    elif r < 0.8:
        c = rng.randrange(1, 10 ** rng.randint(1, 14))
        s = rng.randint(0, 20)
    else:
        return rand_dec(rng)
    return (rng.random() < 0.3, c, s)


def rescaled(rng, x):
    """The same number with more trailing zeros, if that fits."""
    d = rng.randint(1, 28 - x[2]) if x[2] < 28 else 0
    if d and x[1] * 10 ** d <= MAX:
        return (x[0], x[1] * 10 ** d, x[2] + d)
    if x[2] > 0 and x[1] % 10 == 0:
        return (x[0], x[1] // 10, x[2] - 1)
    return x


def near_top_quotient(rng):
    """a, b with a / b close to (2^96 - small) / 10^t: quotients that reach 2^96 while developing."""
    t = rng.choice([0, 0, 1, 2, rng.randint(0, 28)])
    target = (False, MAX - rng.randint(0, 10 ** rng.randint(0, 12)), t)
    b = (rng.random() < 0.5, rng.randrange(1, 10 ** rng.randint(1, 12)), rng.randint(0, 28))
    a = m.mul(target, b)
    if not isinstance(a, tuple):
        return rand_dec(rng), b
    j = rng.randint(0, a[2])
    if j and rng.random() < 0.5:  # fewer digits in the dividend: negative working scale
        a = (a[0], a[1] // 10 ** j, a[2] - j)
    if rng.random() < 0.5:
        a = (a[0], min(MAX, a[1] + rng.randint(-2, 2)), a[2])
    if a[1] <= 0:
        a = (a[0], 1, a[2])
    return a, b


def rand_pair(rng, op):
    r = rng.random()
    if op == "div" and r < 0.1:
        return near_top_quotient(rng)
    a = rand_dec(rng)
    if r < 0.45:
        return a, rand_dec(rng)
    if r < 0.55:  # the same number, maybe another form
        b = rescaled(rng, a)
        return (a, b) if rng.random() < 0.5 else (a, m.neg(b))
    if r < 0.65:  # neighbours
        c = min(MAX, max(0, a[1] + rng.randint(-3, 3)))
        b = rescaled(rng, (a[0] if rng.random() < 0.7 else not a[0], c, a[2]))
        return (a, b) if rng.random() < 0.5 else (b, a)
    if r < 0.75:  # exact products / multiples
        b = small_dec(rng)
        c = small_dec(rng)
        p = m.mul(b, c)
        if isinstance(p, tuple) and p[1]:
            return (p, b) if op in ("div", "rem") else (p, c)
        return a, b
    if r < 0.85:  # big magnitudes, small scales
        a = (rng.random() < 0.5, MAX - rng.getrandbits(rng.randint(1, 90)), rng.randint(0, 3))
        b = (rng.random() < 0.5, rand_coef(rng), rng.randint(0, 28))
        return (a, b) if rng.random() < 0.5 else (b, a)
    if r < 0.92:
        return small_dec(rng), small_dec(rng)
    # zeros of any scale and sign against anything
    z = (rng.random() < 0.5, 0, rng.randint(0, 28))
    b = rand_dec(rng)
    return (z, b) if rng.random() < 0.5 else (b, z)


DIGITS = "0123456789"


def rand_digits(rng, n):
    return "".join(rng.choice(DIGITS) for _ in range(n))


def sprinkle_underscores(rng, t):
    out = []
    for i, ch in enumerate(t):
        out.append(ch)
        if rng.random() < 0.08 and i > 0:
            out.append("_" * rng.randint(1, 2))
    return "".join(out)


JUNK = ["", "", "", "x", " ", "e5", "E", "_", "__", "_9", "_4", "5", "9", ".", ".5", "-", "+", "1", "e"]


def gen_text(rng):
    r = rng.random()
    if r < 0.25:
        t = m.text(rand_dec(rng))
        if t.startswith("-0") and rng.random() < 0.5:
            t = "+" + t[1:]
        if rng.random() < 0.3:
            t = sprinkle_underscores(rng, t)
        if rng.random() < 0.2:
            t = "0" * rng.randint(1, 5) + t.lstrip("-")
        if rng.random() < 0.2:
            t = t + rng.choice(JUNK)
        return t
    if r < 0.55:  # more than 28 fractional digits, or a full coefficient
        ip = rng.choice(["0", "", "1", "9", "7922816251426433759354395033", "79228162514264337593543950335",
                         rand_digits(rng, rng.randint(1, 29))])
        nf = rng.choice([27, 28, 28, 28, 29, rng.randint(0, 30)])
        fp = rand_digits(rng, nf)
        if rng.random() < 0.3:
            fp = "9" * nf
        t = (rng.choice(["", "-", "+"]) + ip + "." + fp)
        if rng.random() < 0.2:
            t = sprinkle_underscores(rng, t)
        return t + rng.choice(JUNK) + rng.choice(JUNK) + rng.choice(JUNK)
    if r < 0.65:  # the 64-bit accumulator threshold around an underscore rounding byte
        z = rng.randint(7, 11)
        core = str(m.WIDE_THRESHOLD + rng.randint(-2, 2))
        t = "0." + "0" * z + core
        return t + rng.choice(["_9", "_5", "_4", "__9", "_", "9", "_x", "_.", "0_9"]) + rng.choice(JUNK)
    if r < 0.75:  # integers around 2^96
        t = str(MAX + rng.randint(-3, 3))
        return rng.choice(["", "-", "+"]) + t + rng.choice(["", ".", ".4", ".5", ".49", ".9", "_", "0"])
    if r < 0.9:  # random bytes from the interesting alphabet
        alphabet = "0123456789" * 3 + "._+-eE x"
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 35)))
    t = m.text(rand_dec(rng))
    i = rng.randint(0, len(t))
    return t[:i] + rng.choice(["_", ".", "-", "+", "a", "\u00e9", "\x00", "9"]) + t[i:]


EXPONENTS = ["", "5", "-5", "+3", "-+5", "--5", "+-5", "28", "29", "-28", "-29", "4294967295", "4294967296",
             " 5", "0", "-0", "00000000003", "1e", "18", "19", "20", "27", "-1", "+"]


def gen_sci(rng):
    r = rng.random()
    if r < 0.6:
        base = m.text(small_dec(rng) if rng.random() < 0.5 else rand_dec(rng))
        if rng.random() < 0.2:
            base = gen_text(rng)
    elif r < 0.8:
        base = rng.choice(["1", "1.5", "1.50", "0", "-0", "9", "7.9228162514264337593543950335", "0.1", "2.50",
                           "", "-", "."])
    else:
        base = gen_text(rng)
    if rng.random() < 0.6:
        ex = str(rng.randint(-32, 32))
        if rng.random() < 0.1:
            ex = "+" + ex if ex[0] != "-" else "-+" + ex[1:]
    else:
        ex = rng.choice(EXPONENTS)
    return base + rng.choice("eE") + ex


def gen_double(rng):
    r = rng.random()
    if r < 0.25:
        return rng.getrandbits(64)
    if r < 0.5:
        x = float("%se%d" % (rng.choice(["1", "2", "5", "0.1", "0.3", "1.5", "9.99", "123456789.12345679",
                                         "%.15f" % rng.random()]),
                             rng.randint(-35, 35)))
    elif r < 0.65:
        x = float(rng.randint(-2 ** 70, 2 ** 70)) * 2.0 ** rng.randint(-30, 30)
    elif r < 0.75:
        x = rng.choice([0.1, 0.30000000000000004, 1 / 3, 2 / 3, 1e15 + 0.3, 1e20, 1e28, 8e28, 7.9e28,
                        7.922816251426433e28, 1.7976931348623157e308, 1e-28, 1e-29, 5e-324, 0.0, -0.0,
                        float("inf"), float("-inf"), float("nan"), 2.0 ** 96, 2.0 ** 95, 5e-29, 4.9e-29])
    elif r < 0.85:  # subnormals and tiny
        return (rng.getrandbits(1) << 63) | rng.getrandbits(rng.randint(1, 52))
    else:
        x = rng.uniform(-1, 1) * 10.0 ** rng.randint(-30, 30)
    if rng.random() < 0.5:
        x = -x
    return m.f64_bits(x)


def near_two64(rng):
    c = (1 << 64) + rng.randint(-3, 3)
    s = rng.choice([0, 0, 1, 5])
    return (rng.random() < 0.2, c * 10 ** s + rng.randint(0, 10 ** s - 1) if s else c, s)


# ---------------------------------------------------------------- operations

def case_binary(fn, name):
    def gen(rng):
        a, b = rand_pair(rng, name)
        return "%s %s %s" % (name, raw(a), raw(b)), fn(a, b), (a, b)
    return gen


def gen_cmp(rng):
    a, b = rand_pair(rng, "cmp")
    return "cmp %s %s" % (raw(a), raw(b)), str(m.cmp(a, b)), (a, b)


def text_line(op, bs):
    return op + (" " + bs.hex() if bs else "")


def gen_parse(rng):
    bs = gen_text(rng).encode("utf-8")
    return text_line("parse", bs), m.from_str(bs), (bs,)


def gen_sci_case(rng):
    bs = gen_sci(rng).encode("utf-8")
    return text_line("sci", bs), m.from_scientific(bs), (bs,)


def gen_text_case(rng):
    x = rand_dec(rng)
    return "text " + raw(x), "ok " + m.text(x), (x,)


def gen_textp(rng):
    x = rand_dec(rng)
    p = rng.choice([0, 1, 2, x[2], x[2] + 1, max(0, x[2] - 1), 28, 29, 30, rng.randint(0, 40)])
    t, extra = m.text_prec(x, p)
    return "textp %s %d" % (raw(x), p), "ok " + t + "0" * extra, (x, p)


def tie_dec(rng):
    """A value whose digits end in 5 followed by zeros (a rounding tie at some position)."""
    s = rng.randint(1, 28)
    j = rng.randint(0, s - 1)
    c = rng.randrange(0, 10 ** rng.randint(1, 12)) * 10 ** (j + 1) + 5 * 10 ** j
    return (rng.random() < 0.5, min(c, MAX), s)


def unary_operand(rng):
    r = rng.random()
    if r < 0.25:
        return tie_dec(rng)
    if r < 0.35:
        return (rng.random() < 0.5, 0, rng.randint(0, 28))
    if r < 0.5:
        return small_dec(rng)
    return rand_dec(rng)


def gen_round_dp(rng):
    x = unary_operand(rng)
    dp = rng.choice([0, 1, 2, max(0, x[2] - 1), x[2], x[2] + 1, 28, 30, rng.randint(0, 29), 4294967295])
    return "round_dp %s %d" % (raw(x), dp), m.round_dp(x, dp), (x, dp)


def gen_unary(name, fn):
    def gen(rng):
        x = unary_operand(rng)
        return "%s %s" % (name, raw(x)), fn(x), (x,)
    return gen


def gen_sqrt(rng):
    r = rng.random()
    if r < 0.1:
        x = (True, rand_coef(rng), rand_scale(rng))
    elif r < 0.3:  # perfect squares at various scales
        k = rng.randrange(0, 10 ** rng.randint(1, 14))
        x = (False, k * k, rng.choice([0, 0, 2, 4, rng.randint(0, 28)]))
        if x[1] > MAX:
            x = (False, k, 0)
    elif r < 0.5:
        x = small_dec(rng)
        x = (False, x[1], x[2])
    else:
        x = (False, rand_coef(rng), rand_scale(rng))
    return "sqrt " + raw(x), m.sqrt(x), (x,)


def power_base(rng):
    r = rng.random()
    if r < 0.3:
        c = rng.randrange(0, 100)
        return (rng.random() < 0.3, c, rng.randint(0, 3))
    if r < 0.5:  # bases whose powers round: many digits, or only fractional digits
        return (rng.random() < 0.3, rng.randrange(1, 10 ** rng.randint(1, 8)), rng.randint(1, 10))
    if r < 0.6:
        return (rng.random() < 0.3, 10 ** rng.randint(0, 3) + rng.choice([-1, 1]), rng.randint(0, 4))
    if r < 0.7:
        return (rng.random() < 0.2, rng.choice([1, 10, 100, 1000, 5, 50, 25, 2, 20]), rng.randint(0, 4))
    return small_dec(rng)


def power_exponent(rng):
    r = rng.random()
    if r < 0.5:
        return rng.randint(-12, 12)
    if r < 0.85:
        return rng.randint(-100, 100)
    return rng.randint(-1023, 1023)


def gen_powi(rng):
    b = power_base(rng)
    n = power_exponent(rng)
    return "powi %s %d" % (raw(b), n), m.powi(b, n), (b, n)


def gen_powd(rng):
    b = power_base(rng)
    n = power_exponent(rng)
    s = rng.choice([0, 0, 1, 2, rng.randint(0, 20)])
    if abs(n) * 10 ** s > MAX:
        s = 0
    p = (n < 0, abs(n) * 10 ** s, s)
    if rng.random() < 0.1:
        p = (rng.random() < 0.5, rng.choice([0, 1, 10, 100]), rng.randint(0, 2))
    if rng.random() < 0.03:
        s = min(s, 9)
        p = (rng.random() < 0.5, ((1 << 32) + rng.randint(0, 1)) * 10 ** s, s)  # nothing: too large
    r = m.powd_exact(b, p)
    if r is None:  # a fractional exponent: not an exact operation
        p = (p[0], p[1] - p[1] % 10 ** p[2], p[2])
        r = m.powd_exact(b, p)
    return "powd %s %s" % (raw(b), raw(p)), r, (b, p)


def fractional_base(rng):
    """Bases of every size: tiny, huge, near 1, near 1/e and e, ordinary."""
    r = rng.random()
    if r < 0.1:  # tiny
        b = (False, rng.randrange(1, 10 ** rng.randint(1, 6)), 28)
    elif r < 0.2:  # huge
        b = (False, MAX - rng.getrandbits(rng.randint(1, 95)), rng.randint(0, 2))
    elif r < 0.3:  # near 1
        s = rng.randint(2, 28)
        b = (False, 10 ** s + rng.randint(-10 ** (s // 2), 10 ** (s // 2)), s)
    elif r < 0.38:  # near 1/e and e, where the argument reduction turns
        c = rng.choice([3678794411714423215955237702, 27182818284590452353602874714])
        b = (False, c + rng.randint(-10 ** rng.randint(0, 20), 10 ** rng.randint(0, 20)), 28)
    elif r < 0.7:
        b = power_base(rng)
    else:
        b = rand_dec(rng)
    if b[1] == 0:
        b = (b[0], 1, b[2])
    return (rng.random() < 0.25, b[1], b[2])


def fractional_exponent(rng):
    """Exponents with a fractional part: near 0, ordinary, large, any."""
    while True:
        r = rng.random()
        if r < 0.15:  # near 0
            p = (False, rng.randrange(1, 10 ** rng.randint(1, 6)), rng.randint(7, 28))
        elif r < 0.55:
            p = (False, rng.randrange(1, 10 ** rng.randint(1, 7)), rng.randint(1, 6))
        elif r < 0.7:  # large
            p = (False, rng.randrange(1, 10 ** rng.randint(5, 28)), rng.randint(1, 4))
        elif r < 0.8:  # halves and quarters
            p = (False, rng.randint(1, 400) * 25, 2)
        else:
            p = rand_dec(rng)
        p = (rng.random() < 0.4, p[1], p[2])
        if m.normalize(p)[2]:
            return p


def gen_powf(rng):
    b = fractional_base(rng)
    p = fractional_exponent(rng)
    return "powd %s %s" % (raw(b), raw(p)), m.powd(b, p), (b, p)


def large_exponent(rng):
    r = rng.random()
    if r < 0.3:
        return rng.randint(1024, 4096)
    if r < 0.6:
        return rng.randint(1024, 10 ** rng.randint(4, 9))
    if r < 0.8:
        return (1 << 32) - rng.randint(1, 1000)
    return rng.randint(1024, (1 << 32) - 1)


def large_power_base(rng, n):
    """Bases whose power of n is neither far beyond 2^96 nor far below the smallest unit, mostly."""
    r = rng.random()
    if r < 0.7:
        # |b| = 10^(t / n) for a target magnitude 10^t, t in [-30, 30], rounded to s digits.
        t = rng.uniform(-30, 30)
        s = rng.randint(6, 28)
        c = int(decimal.Decimal(10) ** (decimal.Decimal(t) / n) * 10 ** s)
        c = min(max(c + rng.randint(-3, 3), 1), MAX)
        b = (False, c, s)
    elif r < 0.85:
        b = power_base(rng)
    else:
        b = rand_dec(rng)
    return (rng.random() < 0.3, b[1], b[2])


def gen_poww(rng):
    n = large_exponent(rng)
    b = large_power_base(rng, n)
    if rng.random() < 0.5:
        return "powu %s %d" % (raw(b), n), m.powi_any(b, n), (b, n)
    k = rng.choice([0, 0, 1, 2])
    p = (False, n * 10 ** k, k)
    return "powd %s %s" % (raw(b), raw(p)), m.powd(b, p), (b, p)


def gen_pown(rng):
    n = large_exponent(rng)
    b = large_power_base(rng, n)
    if rng.random() < 0.5:
        return "powi %s %d" % (raw(b), -n), m.powi_any(b, -n), (b, -n)
    p = (True, n, 0)
    return "powd %s %s" % (raw(b), raw(p)), m.powd(b, p), (b, p)


# ---------------------------------------------------------------- the extended decimal

W192 = 1 << 192


def rand_wide(rng):
    r = rng.random()
    if r < 0.1:
        c = W192 - rng.randint(1, 10 ** rng.randint(1, 20))
    elif r < 0.25:
        c = 10 ** rng.randint(0, 57) + rng.randint(-3, 3)
    elif r < 0.35:
        c = rng.randrange(1, 1000)
    elif r < 0.45:  # full width with trailing zeros, or a rounding tie below
        j = rng.randint(1, 30)
        c = rng.randrange(1, W192 // 10 ** j) * 10 ** j + rng.choice([0, 5 * 10 ** (j - 1)])
    else:
        c = rng.getrandbits(rng.randint(1, 192))
    c = min(max(c, 0), W192 - 1)
    s = rng.choice([0, 1, 28, 56, 57, 58, rng.randint(0, 140)])
    return (rng.random() < 0.4 and c != 0, c, s)


def wraw(x):
    return "W%d:%x:%d" % (1 if x[0] else 0, x[1], x[2])


def wide_norm(x):
    neg, c, s = x
    while s > 0 and c % 10 == 0:
        c //= 10
        s -= 1
    return "ok W%d:%x:%d" % (1 if neg and c else 0, c, s if c else 0)


def wide_line(g):
    """The driver's wide result as a normalized value."""
    if not g.startswith("ok W"):
        return g
    sign, coef, scale = g[4:].split(":")
    return wide_norm((sign == "1", int(coef, 16), int(scale)))


def gen_wide(rng):
    r = rng.random()
    a = rand_wide(rng)
    if r < 0.3:
        b = rand_wide(rng)
        if rng.random() < 0.5:  # neighbouring scales and same signs, as in the series
            b = (a[0], b[1], a[2] + rng.randint(0, 60))
        op = rng.choice(["add", "sub"])
        exp = m.w_add(a, b if op == "add" else (not b[0] and b[1] != 0, b[1], b[2]))
    elif r < 0.55:
        b = rand_wide(rng)
        op = "mul"
        exp = m.w_mul(a, b)
    elif r < 0.75:
        d = rng.choice([rng.randint(1, 200), rng.randint(1, (1 << 32) - 1), 3, 7, 10, 99, 199])
        line = "wide div %s %d" % (wraw(a), d)
        return line, wide_norm(m.w_div_small(a, d)), (a, d)
    elif r < 0.9:
        s = rng.randint(0, 58)
        lo = -(-3678794411714423215955237702 * 10 ** s // 10 ** 28) if s >= 28 else 1
        hi = min(10 ** s + 10 ** max(0, s - 27), W192 - 1)
        c = rng.randint(max(lo, 1), max(hi, 1))
        x = (False, c, s)
        one = 10 ** s
        exp = m.w_quotient(abs(c - one), c + one, 0, c < one)
        return "wide atanh " + wraw(x), wide_norm(exp), (x,)
    else:
        b = rand_wide(rng) if rng.random() < 0.5 else (a[0], a[1] * 10, a[2] + 1) if a[1] * 10 < W192 else a
        return "wide cmp %s %s" % (wraw(a), wraw(b)), str(m.w_cmp(a, b)), (a, b)
    line = "wide %s %s %s" % (op, wraw(a), wraw(b))
    return line, "none" if exp is None else wide_norm(exp), (a, b)


# ---------------------------------------------------------------- accuracy of the powers

ACCURACY_OPS = ("powf", "poww", "pown")


def ulps_off(got, b, p):
    """|got - exact| in units of the last place a Decimal of that magnitude can hold."""
    sign, coef, scale = got[4:].split(":")
    with decimal.localcontext() as ctx:
        ctx.prec = 100
        ctx.Emax, ctx.Emin = 10 ** 15, -10 ** 15
        v = decimal.Decimal(int(coef, 16)).scaleb(-int(scale))
        if sign == "1":
            v = -v
        mag = decimal.Decimal(b[1]).scaleb(-b[2])
        exact = mag ** p
        if b[0]:
            integral = p == p.to_integral_value()
            if not integral or p % 2 != 0:
                exact = -exact
        t = 28
        while t > 0 and abs(exact).scaleb(t) >= (1 << 96) - decimal.Decimal("0.5"):
            t -= 1
        return abs(v - exact).scaleb(t)


def exponent_of(inputs):
    b, p = inputs
    if isinstance(p, int):
        return b, decimal.Decimal(p)
    return b, decimal.Decimal(m.text(p))


def gen_to_u64(rng):
    x = near_two64(rng) if rng.random() < 0.2 else unary_operand(rng)
    v = m.to_u64(x)
    return "to_u64 " + raw(x), "none" if v is None else "ok %d" % v, (x,)


def gen_f64(rng):
    bits = gen_double(rng)
    r = m.from_f64_bits(bits)
    return "f64 %x" % bits, "none" if r is None else r, (struct.unpack("<d", struct.pack("<Q", bits))[0],)


OPS = {
    "add": case_binary(m.add, "add"),
    "sub": case_binary(m.sub, "sub"),
    "mul": case_binary(m.mul, "mul"),
    "div": case_binary(m.div, "div"),
    "rem": case_binary(m.rem, "rem"),
    "cmp": gen_cmp,
    "parse": gen_parse,
    "sci": gen_sci_case,
    "text": gen_text_case,
    "textp": gen_textp,
    "round_dp": gen_round_dp,
    "round": gen_unary("round", lambda x: m.round_dp(x, 0)),
    "floor": gen_unary("floor", m.floor),
    "ceil": gen_unary("ceil", m.ceil),
    "trunc": gen_unary("trunc", m.trunc),
    "fract": gen_unary("fract", m.fract),
    "normalize": gen_unary("normalize", m.normalize),
    "sqrt": gen_sqrt,
    "powi": gen_powi,
    "powd": gen_powd,
    "powf": gen_powf,
    "poww": gen_poww,
    "pown": gen_pown,
    "wide": gen_wide,
    "to_u64": gen_to_u64,
    "f64": gen_f64,
}

# Operations whose model is slow get fewer cases in a run (a fraction of --cases).
WEIGHT = {"sqrt": 0.25, "powi": 0.5, "powd": 0.25, "powf": 0.1, "poww": 0.1, "pown": 0.1}


# ---------------------------------------------------------------- running

def run_driver(driver, lines):
    data = ("\n".join(lines) + "\n").encode()
    proc = subprocess.run([driver], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.decode("utf-8", "replace").split("\n")
    if out and out[-1] == "":
        out.pop()
    if proc.returncode != 0 or len(out) != len(lines):
        sys.stderr.write("driver exited with %d after %d of %d lines\n%s\n"
                         % (proc.returncode, len(out), len(lines), proc.stderr.decode("utf-8", "replace")[-2000:]))
        if len(out) < len(lines):
            sys.stderr.write("first unanswered line: %s\n" % lines[len(out)])
        out += ["<no answer>"] * (len(lines) - len(out))
    return out


def describe(inputs):
    parts = []
    for v in inputs:
        if isinstance(v, tuple) and len(v) == 3 and isinstance(v[0], bool):
            parts.append(m.text(v))
        elif isinstance(v, bytes):
            parts.append(repr(v))
        else:
            parts.append(repr(v))
    return ", ".join(parts)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--driver", required=True)
    ap.add_argument("--cases", type=int, default=1000, help="cases per operation")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--ops", default=",".join(OPS))
    ap.add_argument("--show", type=int, default=10, help="mismatches to print")
    ap.add_argument("--ulps", action="store_true",
                    help="also measure the powers against the exact value (100 digits): worst error in ulps")
    ap.add_argument("--full", action="store_true",
                    help="run --cases for every operation (by default the slow ones run a fraction)")
    args = ap.parse_args()

    ops = [o for o in args.ops.split(",") if o]
    for o in ops:
        if o not in OPS:
            ap.error("unknown op %r (known: %s)" % (o, ", ".join(OPS)))
    import test_model  # the model must first reproduce the documented examples
    if test_model.main() != 0:
        print("0 passed, 1 failed")
        return 1

    rng = random.Random(args.seed)
    worst = {}
    passed = failed = 0
    shown = 0
    start = time.time()
    for op in ops:
        n = args.cases if args.full else max(1, int(args.cases * WEIGHT.get(op, 1.0)))
        op_pass = op_fail = 0
        t0 = time.time()
        done = 0
        while done < n:
            k = min(BATCH, n - done)
            cases = [OPS[op](rng) for _ in range(k)]
            got = run_driver(args.driver, [c[0] for c in cases])
            for (line, exp, inputs), g in zip(cases, got):
                if args.ulps and op in ACCURACY_OPS and g.startswith("ok ") and inputs[0][1]:
                    b, p = exponent_of(inputs)
                    err = ulps_off(g, b, p)
                    for key in ([op, op + " |p|<=10"] if op == "powf" and abs(p) <= 10 else [op]):
                        if err > worst.get(key, (decimal.Decimal(-1),))[0]:
                            worst[key] = (err, describe(inputs), g)
                e = expect(exp)
                if op == "wide":
                    g = wide_line(g)
                if e == g:
                    op_pass += 1
                    continue
                op_fail += 1
                if shown < args.show:
                    shown += 1
                    print("MISMATCH %s\n  inputs:   %s\n  line:     %s\n  expected: %s\n  got:      %s"
                          % (op, describe(inputs), line, e, g))
            done += k
        passed += op_pass
        failed += op_fail
        print("%-10s %9d passed %7d failed  (%.1fs)" % (op, op_pass, op_fail, time.time() - t0), flush=True)
    for op, (err, inputs, g) in worst.items():
        print("worst %-13s %.6g ulp  (%s -> %s)" % (op, err, inputs, g))
    print("total %.1fs" % (time.time() - start))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
