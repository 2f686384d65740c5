"""Independent model of the 96-bit decimal type, in Python big integers.

A value is a tuple (neg, coef, scale): sign bit, coefficient 0..2^96-1 and
scale 0..28. Operations return such a tuple or one of the outcome strings
OVERFLOW, DIVBYZERO, NOTHING. Text readers return ("err", message) on failure.
Everything here is written from the rules of the decimal type, not from the
C++ code, and is deliberately simple: exact integers first, then the scale
rules.
"""

from fractions import Fraction
import struct

MAX = (1 << 96) - 1
TWO96 = 1 << 96
MAX_SCALE = 28
OVERFLOW = "overflow"
DIVBYZERO = "divbyzero"
NOTHING = "nothing"

ZERO = (False, 0, 0)
ONE = (False, 1, 0)
POW10 = [10 ** i for i in range(80)]


def rhe_div(n, d):
    """n / d rounded half to even (n >= 0, d > 0)."""
    q, r = divmod(n, d)
    if 2 * r > d or (2 * r == d and q & 1):
        q += 1
    return q


def rescale(n, s, neg):
    """The common reduction step: exact non-negative integer n at scale s."""
    k = max(0, s - MAX_SCALE)
    while True:
        q = rhe_div(n, POW10[k]) if k else n
        if q <= MAX:
            break
        k += 1
    if k > s:
        return OVERFLOW
    return (neg and q != 0, q, s - k)


def signed(x):
    return -x[1] if x[0] else x[1]


def value(x):
    return Fraction(signed(x), POW10[x[2]])


def neg(x):
    return (not x[0], x[1], x[2])


def add(a, b):
    if a[1] == 0:
        return b
    if b[1] == 0:
        return a
    s = max(a[2], b[2])
    total = signed(a) * POW10[s - a[2]] + signed(b) * POW10[s - b[2]]
    if total == 0:
        return (False, 0, s)
    return rescale(abs(total), s, total < 0)


def sub(a, b):
    if a[1] == 0 and b[1] == 0:
        return b
    return add(a, neg(b))


def mul(a, b):
    if a[1] == 0 or b[1] == 0:
        return ZERO
    return rescale(a[1] * b[1], a[2] + b[2], a[0] != b[0])


def div(a, b):
    ca, cb = a[1], b[1]
    if cb == 0:
        return DIVBYZERO
    if ca == 0:
        return ZERO
    negative = a[0] != b[0]
    s = a[2] - b[2]
    q, r = divmod(ca, cb)
    inexact = False
    while True:
        if r == 0:
            if s >= 0:
                break
            x = min(9, -s)
        else:
            inexact = True
            if s == 28:
                x = 0
            else:
                x = min(9, 28 - s)
                while x > 0 and q * POW10[x] > MAX:
                    x -= 1
            if x == 0:
                if s < 0:
                    return OVERFLOW
                if 2 * r > cb or (2 * r == cb and q & 1):
                    q += 1
                if q >= TWO96:
                    if s == 0:
                        return OVERFLOW
                    q, s = _drop_digit(q, False), s - 1
                break
        s += x
        q *= POW10[x]
        if q > MAX:
            return OVERFLOW
        t = r * POW10[x]
        q += t // cb
        r = t % cb
        if q >= TWO96:
            # A quotient that no longer fits at a scale of 0 or below is an overflow.
            if s <= 0:
                return OVERFLOW
            q, s = _drop_digit(q, r != 0), s - 1
            break
    if inexact:
        while q & 0xFFFFFFFF == 0 and s >= 8 and q % POW10[8] == 0:
            q //= POW10[8]
            s -= 8
        if q & 0xF == 0 and s >= 4 and q % POW10[4] == 0:
            q //= POW10[4]
            s -= 4
        if q & 0x3 == 0 and s >= 2 and q % 100 == 0:
            q //= 100
            s -= 2
        if q & 1 == 0 and s >= 1 and q % 10 == 0:
            q //= 10
            s -= 1
    return (negative and q != 0, q, s)


def _drop_digit(q, sticky):
    kept, digit = divmod(q, 10)
    if digit > 5 or (digit == 5 and (sticky or kept & 1)):
        kept += 1
    return kept


def rem(a, b):
    if b[1] == 0:
        return DIVBYZERO
    if a[1] == 0:
        return ZERO
    s = max(a[2], b[2])
    ma = a[1] * POW10[s - a[2]]
    mb = b[1] * POW10[s - b[2]]
    if ma == mb:
        return ZERO
    if ma < mb:
        return a
    r = ma % mb
    assert r <= MAX
    return (a[0] and r != 0, r, s)


def cmp(a, b):
    s = max(a[2], b[2])
    va = signed(a) * POW10[s - a[2]]
    vb = signed(b) * POW10[s - b[2]]
    return (va > vb) - (va < vb)


# ---------------------------------------------------------------- text forms

def text(x):
    negative, c, s = x
    digits = str(c) if c else ""
    if len(digits) < s:
        digits = "0" * (s - len(digits)) + digits
    if s:
        ip, fp = digits[:-s], digits[-s:]
        out = (ip or "0") + "." + fp
    else:
        out = digits or "0"
    return ("-" if negative else "") + out


def text_prec(x, p):
    """to_str_internal with the sign flag and precision p: (text, extra zeros)."""
    negative, c, s = x
    digits = str(c) if c else ""
    if len(digits) < s:
        digits = "0" * (s - len(digits)) + digits
    ip = digits[:len(digits) - s] if s else digits
    fp = digits[len(digits) - s:] if s else ""
    extra = 0
    if p > MAX_SCALE:
        extra = p - MAX_SCALE
        p = MAX_SCALE
    fp = (fp + "0" * p)[:p]
    ip = ip or "0"
    out = ip + ("." + fp if p else "")
    return ("-" if negative else "") + out, extra


def parse_err(msg):
    return ("err", msg)


E_EMPTY = "Invalid decimal: empty"
E_LEAD = "Invalid decimal: must start lead with a number"
E_TWO_POINTS = "Invalid decimal: two decimal points"
E_UNKNOWN = "Invalid decimal: unknown character"
E_NO_DIGITS = "Invalid decimal: no digits found"
E_TOO_MANY = "Invalid decimal: overflow from too many digits"
E_ROUND_OVF = "Invalid decimal: overflow from mantissa after rounding"
E_FAILED = "Failed to parse"
E_TOO_LARGE = "Number exceeds maximum value that can be represented."
WIDE_THRESHOLD = 1844674407370954906


def e_scale(k):
    return "Scale exceeds the maximum precision allowed: %d > 28" % k


def from_str(bs):
    n = len(bs)
    if n == 0:
        return parse_err(E_EMPTY)
    i = 0
    negative = False
    if bs[0] in b"+-":
        negative = bs[0] == 0x2D
        i = 1
    coef = 0
    scale = 0
    point = False
    any_digit = False
    wide = False
    while i < n:
        ch = bs[i]
        if 0x30 <= ch <= 0x39:
            d = ch - 0x30
            if point and scale == MAX_SCALE:
                return _round_stop(bs, i, coef, scale, negative, wide)
            nc = coef * 10 + d
            if nc >= TWO96:
                if not point:
                    return parse_err(E_TOO_MANY)
                return _round_stop(bs, i, coef, scale, negative, wide)
            coef = nc
            any_digit = True
            if point:
                scale += 1
            if not wide and not (point and scale == MAX_SCALE) and coef >= WIDE_THRESHOLD and i + 1 < n:
                wide = True
        elif ch == 0x5F:  # "_"
            if not any_digit:
                return parse_err(E_LEAD)
            if point and scale == MAX_SCALE:
                return _round_stop(bs, i, coef, scale, negative, wide)
        elif ch == 0x2E:  # "."
            if point:
                return parse_err(E_TWO_POINTS)
            point = True
        else:
            if point and scale == MAX_SCALE:
                return _round_stop(bs, i, coef, scale, negative, wide)
            return parse_err(E_UNKNOWN)
        i += 1
    if not any_digit:
        return parse_err(E_NO_DIGITS)
    return (negative and coef != 0, coef, scale)


def _round_stop(bs, i, coef, scale, negative, wide):
    """Reading stopped at byte i, the rounding byte; the rest is not checked."""
    ch = bs[i]
    if ch == 0x5F:
        if not wide:
            ch = 0x30
        else:
            while i < len(bs) and bs[i] == 0x5F:
                i += 1
            ch = bs[i] if i < len(bs) else 0x30
    # An exponent in the unread rest is not silently dropped.
    if 0x30 <= ch <= 0x39 and (b"e" in bs[i + 1:] or b"E" in bs[i + 1:]):
        return parse_err(E_UNKNOWN)
    if 0x30 <= ch <= 0x39:
        if ch >= 0x35:
            coef += 1
            if coef >= TWO96:
                if scale == 0:
                    return parse_err(E_ROUND_OVF)
                coef = 7922816251426433759354395034
                scale -= 1
    elif ch == 0x2E:
        return parse_err(E_TWO_POINTS)
    else:
        return parse_err(E_UNKNOWN)
    return (negative and coef != 0, coef, scale)


def _read_u32(bs):
    if not bs or any(not (0x30 <= c <= 0x39) for c in bs):
        return None
    v = int(bs)
    return v if v <= 0xFFFFFFFF else None


def from_scientific(bs):
    pos = -1
    for j, c in enumerate(bs):
        if c in (0x65, 0x45):
            pos = j
            break
    if pos < 0:
        return parse_err(E_FAILED)
    base = from_str(bs[:pos])
    if base[0] == "err":
        return base
    exp = bs[pos + 1:]
    if not exp:
        return parse_err(E_FAILED)
    negative, c, s = base
    if exp[0] == 0x2D:
        rest = exp[1:]
        if rest[:1] == b"+":
            rest = rest[1:]
        k = _read_u32(rest)
        if k is None:
            return parse_err(E_FAILED)
        if k > MAX_SCALE:
            return parse_err(e_scale(k))
        if s + k > MAX_SCALE:
            return parse_err(e_scale(s + k))
        return (negative, c, s + k)
    rest = exp[1:] if exp[:1] == b"+" else exp
    k = _read_u32(rest)
    if k is None:
        return parse_err(E_FAILED)
    if k <= s:
        return (negative, c, s - k)
    if k > MAX_SCALE:
        return parse_err(e_scale(k))
    v = base
    remaining = k
    while remaining > 18:
        v = mul(v, (False, POW10[19], 0))
        remaining -= 19
        if v == OVERFLOW:
            return parse_err(E_TOO_LARGE)
    v = mul(v, (False, POW10[remaining], 0))
    if v == OVERFLOW:
        return parse_err(E_TOO_LARGE)
    return normalize(v)


# ---------------------------------------------------------------- conversions

def normalize(x):
    negative, c, s = x
    while s > 0 and c % 10 == 0:
        c //= 10
        s -= 1
    if c == 0:
        return ZERO
    return (negative, c, s)


def trunc(x):
    return (x[0], x[1] // POW10[x[2]], 0)


def fract(x):
    return sub(x, trunc(x))


def to_u64(x):
    if x[0]:
        return None
    v = x[1] // POW10[x[2]]
    return v if v < (1 << 64) else None


def from_f64_bits(bits):
    sign = bits >> 63
    exp = (bits >> 52) & 0x7FF
    frac = bits & ((1 << 52) - 1)
    if exp == 0x7FF:
        return None
    if exp == 0 and frac == 0:
        return (bool(sign), 0, 0)
    if exp == 0:
        m, e2 = frac, -1074
    else:
        m, e2 = frac | (1 << 52), exp - 1075
    e10, e5 = e2, -e2
    while e5 > 0:
        if m & 1 == 0:
            m >>= 1
            e10 += 1
        elif m * 5 <= MAX:
            m *= 5
        else:
            m >>= 1
            e10 += 1
        e5 -= 1
    while e5 < 0:
        if not (m >> 95) & 1:
            m <<= 1
            e10 -= 1
            e5 += 1
        elif 2 * e10 > -e5:
            return None
        else:
            m //= 5
            e5 += 1
    while e10 > 0:
        m *= 10
        e10 -= 1
        if m > MAX:
            return None
    while e10 < -28:
        m, r = divmod(m, 10)
        e10 += 1
        if m == 0:
            e10 = 0
        elif r >= 5:
            m += 1
    while e10 < 0 and m >= (1 << 52):
        m, r = divmod(m, 10)
        e10 += 1
        if r >= 5:
            m += 1
    while e10 < 0 and m % 10 == 0:
        m //= 10
        e10 += 1
    return (bool(sign), m, -e10)


def f64_bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


# ---------------------------------------------------------------- rounding

def round_dp(x, dp):
    negative, c, s = x
    if dp >= s:
        return x
    q = rhe_div(c, POW10[s - dp])
    return (negative and q != 0, q, dp)


def floor(x):
    if x[2] == 0:
        return x
    t = trunc(x)
    if x[0] and fract(x)[1] != 0:
        return sub(t, ONE)
    return t


def ceil(x):
    if x[2] == 0:
        return x
    t = trunc(x)
    if not x[0] and fract(x)[1] != 0:
        return add(t, ONE)
    return t


TWO = (False, 2, 0)


def sqrt(x):
    if x[0]:
        return NOTHING
    if x[1] == 0:
        return ZERO
    guess = div(x, TWO)
    if guess[1] == 0:
        guess = x
    last = add(guess, ONE)
    rounds = 0
    while cmp(last, guess) != 0:
        rounds += 1
        if rounds > 1000:
            return ("fault", "geo mean circuit breaker")
        last = guess
        guess = div(add(guess, div(x, guess)), TWO)
    return guess


# ---------------------------------------------------------------- powers

def is_one(x):
    return x[1] == POW10[x[2]]


def powu(b, n):
    """powu_wide for n < 1024."""
    assert n < 1024
    if n == 0:
        return ONE
    if b[1] == 0:
        return ZERO
    if is_one(b) and not b[0]:
        return ONE
    if n == 1:
        return b
    if n == 2:
        r = mul(b, b)
        return NOTHING if r == OVERFLOW else r
    acc = b if n & 1 else ONE
    power = b
    n >>= 1
    while n:
        power = mul(power, power)
        if power == OVERFLOW:
            return NOTHING
        if n & 1:
            acc = mul(acc, power)
            if acc == OVERFLOW:
                return NOTHING
        n >>= 1
    return normalize(acc)


def powi(b, n):
    """checked_powi for |n| < 1024."""
    if n >= 0:
        return powu(b, n)
    p = powu(b, -n)
    if p == NOTHING:
        return NOTHING
    exact = value(b) ** (-n)
    if value(p) == exact:
        r = div(ONE, p)
        return NOTHING if r in (OVERFLOW, DIVBYZERO) else r
    # The power was rounded: the reciprocal of the exact power, rounded once.
    return round_fraction(1 / exact)


def round_fraction(v):
    """The exact rational v rounded half to even to the most precise Decimal."""
    negative = v < 0
    v = abs(v)
    for s in range(MAX_SCALE, -1, -1):
        scaled = v * POW10[s]
        q = rhe_div(scaled.numerator, scaled.denominator)
        if q <= MAX:
            return (negative and q != 0, q, s)
    return NOTHING


def powd_exact(b, p):
    """checked_powd for an integral exponent; None when the exponent is fractional."""
    if p[1] == 0:
        return ONE
    if b[1] == 0:
        return ZERO
    if cmp(b, ONE) == 0:
        return ONE
    if cmp(p, ONE) == 0:
        return b
    pn = normalize(p)
    if pn[2] != 0:
        return None
    if pn[1] >= (1 << 32):
        return NOTHING
    if pn[0]:
        return powi(b, -pn[1])
    return powu(b, pn[1])


# ---------------------------------------------------------------- wide powers
#
# The extended decimal of the power functions: a sign, a coefficient below
# 2^192 and a scale of its own (any size, never negative). Every result is the
# exact value rounded half to even, dropping the fewest digits that make the
# coefficient fit 192 bits; a result that does not fit even at scale 0 is a
# failure (None). Division by a small integer develops the quotient to as many
# digits as 192 bits hold. The conversion back to a Decimal drops the digits
# beyond the 28th decimal (and any more that 96 bits require) without rounding.

W192 = 1 << 192
LOG10_2 = 0.30102999566398120
E_CONST = (False, 27182818284590452353602874714, 28)
INV_E_CONST = (False, 3678794411714423215955237702, 28)
HALF_UNIT_28 = 5  # half a unit of the 28th decimal, at scale 29


def _pow10(k):
    return POW10[k] if k < len(POW10) else 10 ** k


def w_fit(n, s, neg):
    """The exact value n / 10^s (n >= 0) as a wide number; None when too large."""
    if n < W192:
        return (neg and n != 0, n, s)
    k = max(0, int((n.bit_length() - 193) * LOG10_2))
    while True:
        q = rhe_div(n, _pow10(k))
        if q < W192:
            break
        k += 1
    if k > s:
        return None
    return (neg and q != 0, q, s - k)


def w_signed(x, s):
    v = x[1] * _pow10(s - x[2])
    return -v if x[0] else v


def w_add(a, b):
    s = max(a[2], b[2])
    t = w_signed(a, s) + w_signed(b, s)
    return w_fit(abs(t), s, t < 0)


def w_mul(a, b):
    return w_fit(a[1] * b[1], a[2] + b[2], a[0] != b[0])


def w_quotient(num, den, s, neg):
    """num / den / 10^s (num >= 0, den > 0) rounded to the most digits 192 bits hold."""
    if num == 0:
        return (False, 0, s)
    # The largest u whose rounded quotient num * 10^u / den still fits.
    u = max(0, int((192 - num.bit_length() + den.bit_length() - 2) * LOG10_2) - 1)
    q = rhe_div(num * _pow10(u), den)
    if q >= W192:
        while q >= W192:
            u -= 1
            q = rhe_div(num * _pow10(u), den)
    else:
        while True:
            q2 = rhe_div(num * _pow10(u + 1), den)
            if q2 >= W192:
                break
            u, q = u + 1, q2
    return (neg and q != 0, q, s + u)


def w_div_small(a, d):
    return w_quotient(a[1], d, a[2], a[0])


def w_cmp(a, b):
    s = max(a[2], b[2])
    x, y = w_signed(a, s), w_signed(b, s)
    return (x > y) - (x < y)


def w_to_decimal(a):
    """Digits beyond the 28th decimal (and beyond 96 bits) dropped toward zero."""
    neg, c, s = a
    k = max(0, s - MAX_SCALE)
    q = c // _pow10(k) if k < 60 else 0  # c < 2^192 < 10^58
    while q > MAX:
        k += 1
        q = c // _pow10(k)
    if k > s:
        return None
    return (neg and q != 0, q, s - k)


def w_below_half_unit(t):
    """|t| <= half a unit of the 28th decimal: the term no longer reaches it."""
    c, s = t[1], t[2]
    if s <= MAX_SCALE:
        return c == 0
    if s - MAX_SCALE >= 60:
        return True
    return c * POW10[MAX_SCALE + 1] <= HALF_UNIT_28 * _pow10(s)


W_ONE = (False, 1, 0)


def ln_fraction(x):
    """2 atanh(z) of the reduced argument and the count n of factors e taken out."""
    n = 0
    r = x
    while w_cmp(r, W_ONE) >= 0:
        r = w_mul(r, INV_E_CONST)
        n += 1
    while w_cmp(r, INV_E_CONST) <= 0:
        r = w_mul(r, E_CONST)
        n -= 1
    one = _pow10(r[2])
    num = r[1] - one  # r may end a hair above 1: e x (1/e) exceeds 1
    z = w_quotient(abs(num), r[1] + one, 0, num < 0)
    z2 = w_mul(z, z)
    total = z
    power = z
    for divisor in range(3, 200, 2):
        power = w_mul(power, z2)
        term = w_div_small(power, divisor)
        if w_below_half_unit(term):
            break
        total = w_add(total, term)
    return w_add(total, total), n


def ln_wide(x):
    """Natural logarithm of a positive Decimal; ('fault', text) never happens for x > 0."""
    if x[1] == 0:
        return ("fault", "Unable to calculate ln for zero")
    if x[0]:
        return ("fault", "Calculation of ln failed for unknown reasons")
    if cmp(x, ONE) == 0:
        return ZERO
    doubled, n = ln_fraction(x)
    return normalize(add(w_to_decimal(doubled), (n < 0, abs(n), 0)))


EXP_LAST_WHOLE = 200  # e^k is beyond any Decimal long before this


def exp_magnitude(x):
    """e^|x| as a normalized Decimal, or NOTHING when it does not fit."""
    x = (False, x[1], x[2])
    k = trunc(x)
    whole = k[1]
    if whole > EXP_LAST_WHOLE:
        return NOTHING
    f = sub(x, k)
    total = W_ONE
    term = W_ONE
    for i in range(1, 100):
        term = w_mul(term, f)
        if i > 1:
            term = w_div_small(term, i)
        if w_below_half_unit(term):
            break
        total = w_add(total, term)
    if whole:
        acc = W_ONE
        power = E_CONST
        rest = whole
        while rest:
            if rest & 1:
                acc = w_mul(acc, power)
                if acc is None:
                    return NOTHING
            rest >>= 1
            if rest:
                power = w_mul(power, power)
                if power is None:
                    return NOTHING
        total = w_mul(total, acc)
        if total is None:
            return NOTHING
    d = w_to_decimal(total)
    return NOTHING if d is None else normalize(d)


def exp_wide(x):
    if not x[0] or x[1] == 0:
        return exp_magnitude(x)
    mag = exp_magnitude(x)
    if mag == NOTHING:
        return ZERO  # below the smallest unit
    r = div(ONE, mag)
    return NOTHING if r in (OVERFLOW, DIVBYZERO) else r


def powd_fraction(b, p):
    """checked_powd for an exponent with a fractional part (b != 0, |b| != 1)."""
    ln = ln_wide((False, b[1], b[2]))
    prod = mul(ln, p)
    if prod == OVERFLOW:
        if ln[0] == p[0]:
            return NOTHING
        return (b[0], 0, 0)  # a power far below the smallest unit
    r = exp_wide(prod)
    if r != NOTHING and b[0]:
        r = neg(r)
    return r


def powu_wide_large(b, n):
    """powu_wide for n >= 1024: binary exponentiation in the wide numbers."""
    assert n >= 1024
    if b[1] == 0:
        return ZERO
    if is_one(b) and not b[0]:
        return ONE
    acc = b if n & 1 else W_ONE
    power = b
    n >>= 1
    while n:
        power = w_mul(power, power)
        if power is None:
            return NOTHING
        if n & 1:
            acc = w_mul(acc, power)
            if acc is None:
                return NOTHING
        n >>= 1
    d = w_to_decimal(acc)
    return NOTHING if d is None else normalize(d)


def powu_any(b, n):
    return powu(b, n) if n < 1024 else powu_wide_large(b, n)


def reciprocal_power_exact(b, n):
    """1 / b^n rounded half to even to the most precise Decimal (b != 0, n >= 1)."""
    import decimal
    with decimal.localcontext() as ctx:
        ctx.prec = 90
        ctx.Emax, ctx.Emin = 10 ** 15, -10 ** 15
        mag = decimal.Decimal(b[1]).scaleb(-b[2])
        # Far beyond either end of the range, only the side matters.
        if abs(n * float(mag.ln())) > 10 ** 6:
            return NOTHING if mag < 1 else (False, 0, MAX_SCALE)
        v = 1 / mag ** n
        if v > TWO96:
            return NOTHING
        r = round_fraction(Fraction(v))
    if r != NOTHING and r[1] and b[0] and n & 1:
        r = neg(r)
    return r


def powi_any(b, n):
    """checked_powi for any n (|n| < 2^63)."""
    if n >= 0:
        return powu_any(b, n)
    if -n < 1024:
        return powi(b, n)
    p = powu_wide_large(b, -n)
    if p == NOTHING:
        return NOTHING
    if b[1] == POW10[b[2]]:  # |b| = 1: the power is exact
        r = div(ONE, p)
        return NOTHING if r in (OVERFLOW, DIVBYZERO) else r
    return reciprocal_power_exact(b, -n)


def powd(b, p):
    """checked_powd."""
    if p[1] == 0:
        return ONE
    if b[1] == 0:
        return ZERO
    if cmp(b, ONE) == 0:
        return ONE
    if cmp(p, ONE) == 0:
        return b
    pn = normalize(p)
    if pn[2] == 0:
        if pn[1] >= (1 << 32):
            return NOTHING
        return powi_any(b, -pn[1] if pn[0] else pn[1])
    return powd_fraction(b, p)
