"""Timestamps, time units and frame rates of kelo.ext.data."""

import math
import operator
import random
import struct
from fractions import Fraction

import pytest

from kelo.ext.data import PyFrameRate, PyTimestamp
from sipref import py_hash

NS = 10**9
U64_MAX = 2**64 - 1
NEG_MSG = "cannot convert float seconds to Duration: value is negative"
BIG_MSG = "cannot convert float seconds to Duration: value is either too big or NaN"
RANGE_MSG = "out of range integral type conversion attempted"


def raises(exc, fn, *args, msg=None, note=None, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if msg is not None:
        assert str(info.value) == msg
    if note is not None:
        assert getattr(info.value, "__notes__", None) == [note]
    return info.value


# ---------------------------------------------------------------- from_secs_f64

def oracle(x):
    """Whole seconds and nanoseconds of x, exact, ties to even, with carry."""
    f = Fraction(x)
    secs = math.floor(f)
    nanos = round((f - secs) * NS)  # Fraction rounds half to even
    if nanos == NS:
        secs, nanos = secs + 1, 0
    return secs, nanos


def _samples():
    rng = random.Random(0x6B656C6F)
    vals = [0.0, -0.0, 5e-324, 2.0**-40, math.nextafter(2.0**-31, 0), 2.0**-31,
            4.9e-10, 5e-10, 5.1e-10, 1e-9, 1.5e-9, 0.1, 0.5, 1.0, 1.5, 2.0,
            1.0 / 3, 2.0**51 + 0.5, 2.0**52, 2.0**53, 2.0**63, 1e11, 1.8e10,
            18446744073.709553, 1e19, math.nextafter(2.0**64, 0)]
    # exact ties: frac * 1e9 == m + 0.5 exactly only for odd multiples of 1/1024
    for s in (0, 1, 7, 12345, 2**20, 2**40):
        for j in rng.sample(range(1, 1024, 2), 8):
            vals.append(s + j / 1024)
    # neighbours of ties: one ulp either side must round away from the tie result
    for j in (1, 3, 5, 1023):
        vals += [math.nextafter(j / 1024, 0), math.nextafter(j / 1024, 1)]
    # nanosecond part rounds up to 1e9 and carries into the seconds
    for s in (0, 1, 2, 1000, 2**20):
        vals += [math.nextafter(float(s + 1), 0), s + 1 - 2.0**-33]
    # random magnitudes from 2**-45 up to just below 2**64
    for e in range(-45, 64):
        vals += [rng.random() * 2.0**e for _ in range(3)]
    for _ in range(100):
        vals.append(math.ldexp(1 + rng.getrandbits(52) / 2**52, rng.randrange(-40, 64)))
    return vals


SAMPLES = _samples()


def test_oracle_self_check():
    # sanity of the oracle on hand-computed values
    assert oracle(1 / 1024) == (0, 976562)
    assert oracle(3 / 1024) == (0, 2929688)
    assert oracle(math.nextafter(1.0, 0)) == (1, 0)
    assert len(SAMPLES) > 400


@pytest.mark.parametrize("x", SAMPLES, ids=[float.hex(v) for v in SAMPLES])
def test_from_secs_f64_rounding(x):
    secs, nanos = oracle(x)
    t = PyTimestamp.from_secs_f64(x)
    ns = t.monotonic_ns
    assert type(ns) is int
    assert ns == secs * NS + nanos  # exact, never wrapped
    assert t.monotonic_secs == float(secs) + nanos / 1e9
    assert t.dts_ns is None
    assert t.dts_or_pts_ns() == ns
    assert repr(t) == f"PyTimestamp(monotonic_ns={ns})"


@pytest.mark.parametrize("x, expected", [
    (1.5, 1_500_000_000), (0.1, 100_000_000), (-0.0, 0), (3, 3 * NS),
    (2.0**-31, 0), (math.nextafter(1.0, 0), NS), (1 / 1024, 976_562),
    (1e11, 10**20), (math.nextafter(2.0**64, 0), (2**64 - 2048) * NS),
])
def test_from_secs_f64_examples(x, expected):
    assert PyTimestamp.from_secs_f64(x).monotonic_ns == expected


def test_from_secs_f64_conversion():
    half = type("Half", (), {"__float__": lambda self: 0.5})()
    assert PyTimestamp.from_secs_f64(half).monotonic_ns == 500_000_000
    assert PyTimestamp.from_secs_f64(secs=2.0).monotonic_ns == 2 * NS
    raises(TypeError, PyTimestamp.from_secs_f64, "1.0", note="while processing 'secs'")


@pytest.mark.parametrize("x, msg", [
    (-1e-9, NEG_MSG), (-1.0, NEG_MSG), (-5e-324, NEG_MSG), (-float("inf"), NEG_MSG),
    (-(2.0**64), NEG_MSG), (float("nan"), BIG_MSG), (float("inf"), BIG_MSG),
    (2.0**64, BIG_MSG), (1e300, BIG_MSG),
])
def test_from_secs_f64_rejects(x, msg):
    # an ordinary ValueError, caught by `except Exception`
    exc = raises(ValueError, PyTimestamp.from_secs_f64, x, msg=msg)
    assert isinstance(exc, Exception)


# ------------------------------------------------------------ from_nanos & dts

@pytest.mark.parametrize("n", [0, 1, 999_999_999, NS, 1_500_000_000,
                               2**63, U64_MAX - 1, U64_MAX])
def test_from_nanos(n):
    t = PyTimestamp.from_nanos(n)
    assert t.monotonic_ns == n
    assert t.monotonic_secs == float(n // NS) + (n % NS) / 1e9
    assert t.dts_ns is None and t.dts_or_pts_ns() == n
    assert repr(t) == str(t) == f"PyTimestamp(monotonic_ns={n})"
    assert PyTimestamp.from_nanos(nanos=n).monotonic_ns == n


@pytest.mark.parametrize("value, exc", [
    (-1, OverflowError), (2**64, OverflowError), (-(2**70), OverflowError),
    (1.5, TypeError), ("1", TypeError), (None, TypeError),
])
@pytest.mark.parametrize("call, param", [
    (PyTimestamp.from_nanos, "nanos"),
    (PyTimestamp.from_nanos(1).with_dts, "dts_ns"),
])
def test_nanos_parameters_rejected(call, param, value, exc):
    raises(exc, call, value, note=f"while processing '{param}'")


def test_with_dts_is_builder():
    t = PyTimestamp.from_nanos(1000)
    u = t.with_dts(5)
    assert type(u) is PyTimestamp and u is not t
    assert (u.monotonic_ns, u.dts_ns, u.dts_or_pts_ns()) == (1000, 5, 5)
    assert t.dts_ns is None and t.dts_or_pts_ns() == 1000
    assert repr(u) == repr(t) == "PyTimestamp(monotonic_ns=1000)"
    v = u.with_dts(dts_ns=U64_MAX)  # replaces; later than monotonic is fine
    assert (v.dts_ns, v.dts_or_pts_ns(), u.dts_ns) == (U64_MAX, U64_MAX, 5)
    assert u.with_dts(0).dts_ns == 0 and u.with_dts(0).dts_or_pts_ns() == 0


def test_huge_timestamp_views_are_exact():
    t = PyTimestamp.from_secs_f64(1e11)
    assert t.monotonic_ns == 10**20 and t.dts_or_pts_ns() == 10**20
    assert repr(t) == "PyTimestamp(monotonic_ns=100000000000000000000)"
    assert t.monotonic_secs == 1e11
    u = t.with_dts(3)
    assert (u.monotonic_ns, u.dts_ns, u.dts_or_pts_ns()) == (10**20, 3, 3)


def test_timestamp_identity_semantics():
    a, b = PyTimestamp.from_nanos(1), PyTimestamp.from_nanos(1)
    assert a == a and not (a == b) and a != b
    assert hash(a) == object.__hash__(a)
    with pytest.raises(TypeError):
        a < b  # noqa: B015
    raises(TypeError, PyTimestamp, msg="cannot create 'builtins.PyTimestamp' instances")


DOCS = {
    "from_nanos": "Create from a monotonic presentation time in nanoseconds.",
    "from_secs_f64": "Create from a monotonic presentation time in seconds.",
    "monotonic_ns": "The presentation timestamp in nanoseconds.",
    "monotonic_secs": "The presentation timestamp in seconds.",
    "dts_ns": "The decode timestamp in nanoseconds, if known.",
    "with_dts": "Attach a decode timestamp (nanoseconds), builder-style.",
    "dts_or_pts_ns": "The decode timestamp if known, else the presentation time.",
}


def test_timestamp_docs_and_read_only():
    assert PyTimestamp.__doc__ == (
        "A presentation/decode timestamp pair.\n\nThe primary clock is the presentation "
        "timestamp (`monotonic`); the\ndecode timestamp (`dts`) is optional and precedes "
        "presentation on\nreordered streams.")
    assert {n: getattr(PyTimestamp, n).__doc__ for n in DOCS} == DOCS
    t = PyTimestamp.from_nanos(1)
    for name in ("monotonic_ns", "monotonic_secs", "dts_ns", "other"):
        with pytest.raises(AttributeError):
            setattr(t, name, 2)
    raises(TypeError, PyTimestamp.from_nanos,
           msg="PyTimestamp.from_nanos() missing 1 required positional argument: 'nanos'")


# ------------------------------------------------------------------- FrameRate

@pytest.mark.parametrize("num, den, as_f64, text", [
    (30000, 1001, 30000 / 1001, "30000/1001"),
    (30, 1, 30.0, "30/1"), (60, 2, 30.0, "60/2"), (0, 1, 0.0, "0/1"),
    (1, 0, math.inf, "1/0"), (5, 0, math.inf, "5/0"), (0, 0, math.nan, "0/0"),
    (2**32 - 1, 1, 4294967295.0, "4294967295/1"),
    (1, 2**32 - 1, 1 / 4294967295, "1/4294967295"),
])
def test_frame_rate_values(num, den, as_f64, text):
    r = PyFrameRate(num, den)
    assert (r.numerator, r.denominator) == (num, den)
    f = r.as_f64()
    assert type(f) is float
    assert math.isnan(f) if math.isnan(as_f64) else f == as_f64
    assert repr(r) == str(r) == f"PyFrameRate({text})"
    assert hash(r) == py_hash(struct.pack("<II", num, den))
    assert r == PyFrameRate(numerator=num, denominator=den)


def test_frame_rate_equality():
    assert PyFrameRate(30, 1) != PyFrameRate(60, 2)
    assert not (PyFrameRate(30, 1) == PyFrameRate(60, 2))
    assert not (PyFrameRate(30, 1) != PyFrameRate(30, 1))
    assert (PyFrameRate(30, 1) == (30, 1)) is False and PyFrameRate(30, 1) != 30.0
    assert hash(PyFrameRate(30, 1)) != hash(PyFrameRate(1, 30))
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(PyFrameRate(1, 1), PyFrameRate(2, 1))


NEW = "PyFrameRate.__new__() "


@pytest.mark.parametrize("args, kwargs, exc, msg, note", [
    ((-1, 1), {}, OverflowError, RANGE_MSG, "numerator"),
    ((2**32, 1), {}, OverflowError, RANGE_MSG, "numerator"),
    ((1, -1), {}, OverflowError, RANGE_MSG, "denominator"),
    ((1, 2**32), {}, OverflowError, RANGE_MSG, "denominator"),
    ((-1, "x"), {}, OverflowError, RANGE_MSG, "numerator"),  # first failure wins
    ((1.5, 1), {}, TypeError, None, "numerator"),
    ((1, "2"), {}, TypeError, None, "denominator"),
    ((), {}, TypeError, NEW + "missing 2 required positional arguments: "
                              "'numerator' and 'denominator'", None),
    ((1,), {}, TypeError, NEW + "missing 1 required positional argument: 'denominator'", None),
    ((1, 2, 3), {}, TypeError, NEW + "takes 2 positional arguments but 3 were given", None),
    ((1, 2), {"numerator": 1}, TypeError,
     NEW + "got multiple values for argument 'numerator'", None),
])
def test_frame_rate_argument_errors(args, kwargs, exc, msg, note):
    note = note and f"while processing '{note}'"
    raises(exc, PyFrameRate, *args, msg=msg, note=note, **kwargs)


def test_frame_rate_docs():
    assert PyFrameRate.__doc__ == "Frame rate as a rational number."
    assert PyFrameRate.__text_signature__ == "(numerator, denominator)"
    assert PyFrameRate.as_f64.__doc__ == "The frame rate as a float (`numerator / denominator`)."
    r = PyFrameRate(1, 2)
    for name in ("numerator", "denominator"):
        with pytest.raises(AttributeError):
            setattr(r, name, 3)
    with pytest.raises(TypeError):
        type("Sub", (PyFrameRate,), {})
