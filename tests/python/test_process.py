# SPDX-License-Identifier: Apache-2.0
"""Trace.detrend, taper, filter, decimate and the filter design the plot streams with, against
Butterworth's and Hann's formulas, least-squares fits and the sampling theorem."""
import re
import sys

import numpy as np
import pytest

import kivf
from kivf import _process

scipy_signal = pytest.importorskip("scipy.signal")
START = dict(nzyear=2020, nzjday=5, nzhour=1, nzmin=2, nzsec=3, nzmsec=400, b=0.25)


def make(tmp_path, data, name="t", **fields):
    kivf.write(p := tmp_path / f"{name}.kiv", data, **{**START, **fields})
    return kivf.read(p)


def sine(f, rate, seconds, phase=0.3):
    return np.sin(2 * np.pi * f * np.arange(round(seconds * rate)) / rate + phase)


def amplitude(y, t, f):
    """The amplitude of the sine of frequency f in y, by least squares."""
    a = np.column_stack([np.sin(2 * np.pi * f * t), np.cos(2 * np.pi * f * t), np.ones_like(t)])
    c = np.linalg.lstsq(a, y.astype(np.float64), rcond=None)[0]
    return np.hypot(c[0], c[1])


def steady(t, y, f, skip):  # the sine's amplitude away from the ends' transients
    t0 = t.times()
    keep = (t0 > t0[0] + skip) & (t0 < t0[-1] - skip)
    return amplitude(y[keep], t0[keep], f)


def butterworth(kind, f, lo, hi, n, rate=100):
    """Butterworth's gain at f after the bilinear transform: 1 / sqrt(1 + x**2n)."""
    w, a, b = (np.tan(np.pi * v / rate) for v in (f, lo, hi or 0))
    x = w / a if kind == "lowpass" else a / w if kind == "highpass" else (w * w - a * b) / (
        w * (b - a))
    return (1 + x ** (2 * n)) ** -0.5


@pytest.mark.parametrize("kind, corners, f, n", [  # corners (lo, hi); None: the default order
    ("lowpass", (2, None), 0.2, None), ("lowpass", (2, None), 20, None),
    ("highpass", (2, None), 20, None), ("highpass", (2, None), 0.2, None),
    ("bandpass", (1, 10), 3.16, None), ("bandpass", (1, 10), 0.05, None),
    ("bandpass", (1, 10), 40, None), ("lowpass", (5, None), 5, 4), ("highpass", (5, None), 5, 4),
    ("lowpass", (5, None), 5, 1), ("highpass", (2, None), 2, 3), ("bandpass", (2, 8), 2, 4),
    ("bandpass", (2, 8), 8, 2), ("lowpass", (5, None), 10, 2), ("lowpass", (5, None), 10, 5),
    ("highpass", (5, None), 2.5, 3)])
def test_butterworth_response_single_pass_and_squared_zero_phase(tmp_path, kind, corners, f, n):
    t = make(tmp_path, sine(f, 100, 60), delta=0.01)
    lo, hi = corners
    opts = dict(freqmin=lo, freqmax=hi) if hi else dict(freq=lo)
    want = butterworth(kind, f, lo, hi, n or 4)
    for zerophase, expect in ((False, want), (True, want**2)):
        y = t.filter(kind, **opts, **({"corners": n} if n else {}), zerophase=zerophase).data
        assert steady(t, y, f, 15) == pytest.approx(expect, rel=2e-3, abs=1e-6)


def test_zero_phase_keeps_symmetry_and_reverses_with_time(tmp_path):
    n = 2001
    pulse = np.exp(-0.5 * ((np.arange(n) - n // 2) / 5.0)**2)
    t = make(tmp_path, pulse, delta=0.01)
    for kind, opts in (("lowpass", dict(freq=3)), ("bandpass", dict(freqmin=1, freqmax=8))):
        y = t.filter(kind, zerophase=True, **opts).data
        assert np.argmax(np.abs(y)) == n // 2
        np.testing.assert_allclose(y, y[::-1], atol=1e-6 * np.abs(y).max())
        causal = t.filter(kind, **opts).data  # a causal filter delays the peak
        assert np.argmax(np.abs(causal)) > n // 2
    noise = np.random.default_rng(1).standard_normal(n)
    a = make(tmp_path, noise, "a", delta=0.01).filter("highpass", freq=2, zerophase=True).data
    b = make(tmp_path, noise[::-1], "b", delta=0.01).filter("highpass", freq=2, zerophase=True)
    # The same away from the ends, where the padding differs.
    np.testing.assert_allclose(b.data[300:-300], a[::-1][300:-300], atol=1e-5)


@pytest.mark.parametrize("uneven", [False, True])
def test_detrend_removes_the_line_or_the_mean(tmp_path, uneven):
    n = 1000
    k = np.arange(n) - (n - 1) / 2
    wave = np.cos(2 * np.pi * 7 * k / n)  # whole periods, even about the middle: no line in it
    if uneven:
        x = np.cumsum(np.random.default_rng(2).uniform(0.5, 1.5, n))
        t = make(tmp_path, 300 + 2.5 * x + wave, x=x)
        s = t.times()
        y = t.data.astype(np.float64)
        want = y - np.polyval(np.polyfit(s, y, 1), s)
    else:
        t = make(tmp_path, 300 + 2.5 * 0.5 * np.arange(n) + wave, delta=0.5)
        want = wave
    before = t.data.copy()
    got = t.detrend("linear")
    np.testing.assert_allclose(got.data, want, atol=4 * np.finfo(np.float32).eps * 3000)
    assert np.array_equal(t.data, before) and (got.x is t.x is None or
                                               np.array_equal(got.x, t.x) and got.x is not t.x)
    mean = t.detrend()
    assert abs(mean.data.mean(dtype=np.float64)) < 1e-4
    np.testing.assert_allclose(mean.data, before - before.mean(dtype=np.float64), atol=1e-4)


@pytest.mark.parametrize("fraction, n", [(0.1, 100), (0.5, 101), (0.5, 100), (0.25, 7),
                                         (0.0, 50), (0.05, 10)])
def test_taper_hann_ends_middle_untouched(tmp_path, fraction, n):
    data = np.random.default_rng(3).uniform(1, 2, n).astype(np.float32)
    got = make(tmp_path, data, delta=0.1).taper(fraction).data
    m = int(fraction * n)
    w = np.hanning(2 * m + 1)[:m]  # the rising half of a Hann window of 2m + 1 points
    np.testing.assert_allclose(got[:m], data[:m] * w, rtol=1e-6)
    np.testing.assert_allclose(got[n - m:], data[n - m:] * w[::-1], rtol=1e-6)
    assert np.array_equal(got[m:n - m], data[m:n - m])
    assert (got[0] == 0 and got[-1] == 0) if m else np.array_equal(got, data)


@pytest.mark.parametrize("rate, factor", [(100, 4), (40, 2), (20, 5), (100, 3), (100, 5),
                                          (250, 10)])  # float32(0.01) * 5 is not 20 Hz
def test_decimate_keeps_low_removes_alias(tmp_path, rate, factor):
    new = rate / factor
    low, high = 0.1 * new, 0.8 * new  # high lies above the new Nyquist frequency, new/2
    n = round(120 * rate) + 1
    t = make(tmp_path, sine(low, rate, n / rate) + sine(high, rate, n / rate, 1.0),
             delta=1 / rate)
    d = t.decimate(factor)
    assert len(d.data) == -(-n // factor) and d.header["NPTS"] == len(d.data)
    assert d.sampling_rate == new and d.delta == np.float32(factor / rate)
    assert np.array_equal(d.utc_times(), t.utc_times()[::factor])
    assert d.starttime == t.starttime and d.endtime == t.utc_times()[(len(d.data) - 1) * factor]
    assert steady(d, d.data, low, 20) == pytest.approx(1, abs=0.015)
    assert steady(d, d.data, new - high, 20) < 0.01  # where high would alias to
    raw = t.data[::factor]  # without the filter it does
    assert steady(d, raw, new - high, 20) == pytest.approx(1, abs=0.01)


def test_results_are_new_traces_with_headers_for_their_samples(tmp_path):
    t = make(tmp_path, 5 + sine(1, 100, 20), delta=0.01, kstnm="ANMO")
    before, header = t.data.copy(), dict(t.header)
    for r in (t.detrend(), t.detrend("linear"), t.taper(0.2), t.decimate(2),
              t.filter("lowpass", freq=4), t.filter("highpass", freq=4, zerophase=True)):
        assert r is not t and r.header["KSTNM"] == "ANMO" and r.starttime == t.starttime
        h = r.header
        assert (h["NPTS"], h["DEPMIN"], h["DEPMAX"]) == (len(r.data), r.data.min(), r.data.max())
        assert h["DEPMEN"] == pytest.approx(r.data.mean(dtype=np.float64), abs=1e-6)
    assert np.array_equal(t.data, before) and t.header == header


@pytest.mark.parametrize("text, want", [("bandpass:1:10", ("bandpass", (1.0, 10.0))),
                                        ("lowpass:5", ("lowpass", (5.0,))),
                                        ("highpass:0.5", ("highpass", (0.5,)))])
def test_parse_filter_and_design_for_streaming(tmp_path, text, want):
    assert _process.parse_filter(text) == want
    kind, freqs = want
    sos = _process.design(kind, freqs, 3, 50)
    assert sos.shape == (3 if kind == "bandpass" else 2, 6)
    _, h = scipy_signal.sosfreqz(sos, worN=list(freqs), fs=50)
    np.testing.assert_allclose(np.abs(h), 2**-0.5, rtol=1e-6)
    t = make(tmp_path, np.random.default_rng(4).standard_normal(500), delta=0.02)
    opts = dict(zip(("freqmin", "freqmax"), freqs)) if kind == "bandpass" else dict(freq=freqs[0])
    np.testing.assert_allclose(t.filter(kind, corners=3, **opts).data,
                               scipy_signal.sosfilt(sos, t.data.astype(np.float64)), atol=1e-6)


REFUSED = [
    (lambda t: t.filter("bandpass", freqmin=1, freqmax=50), ValueError,
     "filter: freqmax 50.0 Hz is not below the Nyquist frequency 50.0 Hz"),
    (lambda t: t.filter("bandpass", freqmin=1, freqmax=70), ValueError, "freqmax 70.0 Hz is not"),
    (lambda t: t.filter("lowpass", freq=0), ValueError, "freq must be a finite number above 0"),
    (lambda t: t.filter("highpass", freq=-1), ValueError, "freq must be a finite number above"),
    (lambda t: t.filter("highpass", freq=float("nan")), ValueError, "freq must be a finite"),
    (lambda t: t.filter("lowpass", freq="5"), TypeError, "freq must be a number, not str"),
    (lambda t: t.filter("bandpass", freqmin=5, freqmax=5), ValueError,
     "freqmin 5 must be below freqmax 5"),
    (lambda t: t.filter("lowpass", freq=5, corners=0), ValueError, "corners must be 1 or more"),
    (lambda t: t.filter("lowpass", freq=5, corners=2.0), TypeError, "corners must be an int"),
    (lambda t: t.filter("notch", freq=5), ValueError, "no filter kind 'notch'"),
    (lambda t: t.filter("lowpass"), ValueError, "filter: lowpass needs freq"),
    (lambda t: t.filter("bandpass", freqmin=1), ValueError, "bandpass needs freqmax"),
    (lambda t: t.filter("lowpass", freqmin=1, freq=5), ValueError, "freqmin is not for lowpass"),
    (lambda t: t.taper(0.6), ValueError, "taper: fraction must be from 0 to 0.5, not 0.6"),
    (lambda t: t.taper(-0.1), ValueError, "fraction must be from 0 to 0.5"),
    (lambda t: t.taper(float("nan")), ValueError, "fraction must be from 0 to 0.5, not nan"),
    (lambda t: t.taper(None), TypeError, "fraction must be a number"),
    (lambda t: t.detrend("constant"), ValueError, "type must be 'demean' or 'linear'"),
    (lambda t: t.decimate(1), ValueError, "decimate: factor must be 2 or more, not 1"),
    (lambda t: t.decimate(2.0), TypeError, "factor must be an int, not float"),
    (lambda t: t.slice(None, t.utc_times()[20]).decimate(2), ValueError,
     "decimate: 21 samples are too few: this filter needs more than 27"),
    (lambda t: t.slice(None, t.utc_times()[14]).filter("lowpass", freq=5, zerophase=True),
     ValueError, "15 samples are too few: this filter needs more than 15"),
    (lambda t: _process.design("bandpass", (1, 10), 4, None), ValueError, "design: rate must"),
    (lambda t: _process.design("lowpass", (1, 2), 4, 100), ValueError,
     "design: lowpass takes 1 corner frequencies, not 2"),
    (lambda t: _process.design("highpass", (10,), 4, 20), ValueError,
     "design: freqs[0] 10.0 Hz is not below the Nyquist frequency 10.0 Hz"),
    (lambda t: _process.parse_filter("bandpass:1"), ValueError,
     "filter 'bandpass:1': bandpass takes 2 corner frequencies, not 1"),
    (lambda t: _process.parse_filter("lowpass:x"), ValueError, "the corners are not numbers"),
    (lambda t: _process.parse_filter("bandstop:1:2"), ValueError, "no filter kind 'bandstop'"),
    (lambda t: _process.parse_filter("bandpass:10:1"), ValueError, "LO 10.0 must be below HI"),
    (lambda t: _process.parse_filter("lowpass:-1"), ValueError, "F must be a finite number"),
    (lambda t: _process.parse_filter("lowpass:inf"), ValueError, "F must be a finite number"),
    (lambda t: _process.parse_filter(5), TypeError, "text must be a str, not int")]


@pytest.mark.parametrize("call, error, text", REFUSED)
def test_refusals(tmp_path, call, error, text):
    t = make(tmp_path, sine(1, 100, 10), delta=0.01)
    with pytest.raises(error, match=re.escape(text)):
        call(t)


@pytest.mark.parametrize("fields, method, text", [
    (dict(x=np.arange(100.0)), "filter", "filter: the trace is uneven (x is not None)"),
    (dict(x=np.arange(100.0)), "decimate", "decimate: the trace is uneven"),
    ({}, "filter", "filter: DELTA None gives no sampling rate"),
    (dict(delta=0.01, nan=3), "filter", "filter: data[3] is nan"),
    (dict(delta=0.01, nan=7), "decimate", "decimate: data[7] is nan"),
    (dict(delta=0.01, nan=0), "detrend", "detrend: data[0] is nan")])
def test_refused_traces(tmp_path, fields, method, text):
    y = sine(1, 100, 1)
    if "nan" in fields:
        y[fields.pop("nan")] = np.nan
    t = make(tmp_path, y, **fields)
    args = {"filter": ("lowpass",), "decimate": (2,), "detrend": ()}[method]
    with pytest.raises(ValueError, match=re.escape(text)):
        getattr(t, method)(*args, **({"freq": 5} if method == "filter" else {}))


def test_without_scipy_filters_say_what_to_install(tmp_path, monkeypatch):
    t = make(tmp_path, sine(1, 100, 10), delta=0.01)
    monkeypatch.setitem(sys.modules, "scipy", None)
    monkeypatch.setitem(sys.modules, "scipy.signal", None)
    for what, call in (("filter", lambda: t.filter("lowpass", freq=5)),
                       ("decimate", lambda: t.decimate(2)),
                       ("design", lambda: _process.design("lowpass", (5,), 4, 100))):
        with pytest.raises(ImportError, match=re.escape(
                f"kivf: {what} needs scipy (Debian: apt-get install python3-scipy)")):
            call()
    assert t.detrend().data.size == t.taper(0.1).data.size == len(t.data)  # numpy is enough
