"""Timestamps and frame rates of kelo.ext.data."""

import math
import random
import struct
from fractions import Fraction

import pytest

from kelo.ext.data import PyFrameRate, PyTimestamp
from checks import raises
from sipref import py_hash

NS, U64_MAX = 10**9, 2**64 - 1


def samples():
    rng = random.Random(0x6B656C6F)
    vals = [0.0, -0.0, 5e-324, math.nextafter(2.0**-31, 0), 2.0**-31, 4.9e-10, 5e-10, 5.1e-10, 1.5e-9,
            0.1, 1 / 3, 2.0**51 + 0.5, 2.0**53, 1.8e10, 18446744073.709553, math.nextafter(2.0**64, 0)]
    # exact ties (odd multiples of 2**-10 give m + 0.5 ns) and their neighbours
    vals += [s + j / 1024 for s in (0, 1, 7, 2**20, 2**40) for j in rng.sample(range(1, 1024, 2), 8)]
    vals += [math.nextafter(j / 1024, d) for j in (1, 3, 5, 1023) for d in (0, 1)]
    # nanoseconds that round up to a whole second
    vals += [v for s in (0, 1, 1000, 2**20) for v in (math.nextafter(s + 1.0, 0), s + 1 - 2.0**-33)]
    return vals + [rng.random() * 2.0**e for e in range(-45, 64) for _ in range(3)]


def test_from_secs_f64_is_exact():
    for x in samples():
        want = round(Fraction(x) * NS)  # exact value, ties to even
        t = PyTimestamp.from_secs_f64(x)
        assert (t.monotonic_ns, t.monotonic_secs) == (want, float(want // NS) + want % NS / 1e9), x.hex()


@pytest.mark.parametrize("make, arg, ns", [(PyTimestamp.from_secs_f64, x, ns) for x, ns in [
    (1.5, 1_500_000_000), (3, 3 * NS), (1e11, 10**20), (type("Half", (), {"__float__": lambda self: 0.5})(), NS // 2),
]] + [(PyTimestamp.from_nanos, n, n) for n in (0, 999_999_999, 2**63, U64_MAX)])
def test_views(make, arg, ns):
    t, text = make(arg), f"PyTimestamp(monotonic_ns={ns})"
    secs = float(ns // NS) + (ns % NS) / 1e9
    assert (type(t.monotonic_ns), t.monotonic_ns, t.monotonic_secs, t.dts_ns, t.dts_or_pts_ns(), repr(t),
            str(t)) == (int, ns, secs, None, ns, text, text)


@pytest.mark.parametrize("x, msg", [  # the core's messages
    (-5e-324, "cannot convert float seconds to Duration: value is negative"),
    (float("nan"), "cannot convert float seconds to Duration: value is either too big or NaN")])
def test_from_secs_f64_rejects(x, msg):
    raises(ValueError, PyTimestamp.from_secs_f64, x, msg=msg)


def test_with_dts_is_builder():
    t = PyTimestamp.from_secs_f64(1e11)
    u = t.with_dts(5)
    v = u.with_dts(dts_ns=U64_MAX)  # replaces; later than monotonic is fine
    assert [(x.monotonic_ns, x.dts_ns, x.dts_or_pts_ns()) for x in (t, u, v, u, u.with_dts(0))] == [
        (10**20, None, 10**20), (10**20, 5, 5), (10**20, U64_MAX, U64_MAX), (10**20, 5, 5), (10**20, 0, 0)]
    assert (repr(u), repr(t)) == ("PyTimestamp(monotonic_ns=100000000000000000000)",) * 2


@pytest.mark.parametrize("num, den, as_f64, text", [
    (30000, 1001, 30000 / 1001, "30000/1001"), (30, 1, 30.0, "30/1"), (60, 2, 30.0, "60/2"),
    (5, 0, math.inf, "5/0"), (0, 0, math.nan, "0/0"), (1, 2**32 - 1, 1 / 4294967295, "1/4294967295")])
def test_frame_rate(num, den, as_f64, text):
    r = PyFrameRate(num, den)
    f = r.as_f64()
    assert ((r.numerator, r.denominator), type(f), repr(f), repr(r), str(r)) == \
        ((num, den), float, repr(as_f64), f"PyFrameRate({text})", f"PyFrameRate({text})")
    assert (hash(r), r == PyFrameRate(numerator=num, denominator=den)) == \
        (py_hash(struct.pack("<II", num, den)), True)
    assert (r == PyFrameRate(30, 1)) is (text == "30/1")  # 60/2 is not reduced
