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
    ("lowpass", (2, None), 20, None), ("highpass", (2, None), 0.2, None),
    ("highpass", (2, None), 2, 3), ("bandpass", (2, 8), 8, 2)])
def test_butterworth_response_single_pass_and_squared_zero_phase(tmp_path, kind, corners, f, n):
    t = make(tmp_path, sine(f, 100, 60), delta=0.01)
    lo, hi = corners
    opts = dict(freqmin=lo, freqmax=hi) if hi else dict(freq=lo)
    want = butterworth(kind, f, lo, hi, n or 4)
    for zerophase, expect in ((False, want), (True, want**2)):
        y = t.filter(kind, **opts, **({"corners": n} if n else {}), zerophase=zerophase).data
        assert steady(t, y, f, 15) == pytest.approx(expect, rel=2e-3, abs=1e-6)


def test_detrend_removes_the_line_or_the_mean(tmp_path):
    n = 1000
    x = np.cumsum(np.random.default_rng(2).uniform(0.5, 1.5, n))  # uneven: the line through x
    t = make(tmp_path, 300 + 2.5 * x + np.cos(2 * np.pi * 7 * np.arange(n) / n), x=x)
    s = t.times()
    y = t.data.astype(np.float64)
    want = y - np.polyval(np.polyfit(s, y, 1), s)
    before = t.data.copy()
    got = t.detrend("linear")
    np.testing.assert_allclose(got.data, want, atol=4 * np.finfo(np.float32).eps * 3000)
    assert np.array_equal(t.data, before) and np.array_equal(got.x, t.x) and got.x is not t.x
    mean = t.detrend()
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


@pytest.mark.parametrize("rate, factor", [(100, 4), (40, 2), (100, 5)])  # 5 * float32(0.01) != 0.2
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


REFUSED = [
    (lambda t: t.filter("bandpass", freqmin=1, freqmax=50), ValueError,
     "filter: freqmax 50.0 Hz is not below the Nyquist frequency 50.0 Hz"),
    (lambda t: t.filter("lowpass", freq=0), ValueError, "freq must be a finite number above 0"),
    (lambda t: t.filter("bandpass", freqmin=5, freqmax=5), ValueError,
     "freqmin 5 must be below freqmax 5"),
    (lambda t: t.filter("notch", freq=5), ValueError, "no filter kind 'notch'"),
    (lambda t: t.filter("lowpass"), ValueError, "filter: lowpass needs freq"),
    (lambda t: t.taper(0.6), ValueError, "taper: fraction must be from 0 to 0.5, not 0.6"),
    (lambda t: t.detrend("constant"), ValueError, "type must be 'demean' or 'linear'"),
    (lambda t: t.decimate(1), ValueError, "decimate: factor must be 2 or more, not 1"),
    (lambda t: t.slice(None, t.utc_times()[20]).decimate(2), ValueError,
     "decimate: 21 samples are too few: this filter needs more than 27"),
    (lambda t: _process.parse_filter("bandpass:1"), ValueError,
     "filter 'bandpass:1': bandpass takes 2 corner frequencies, not 1")]


@pytest.mark.parametrize("call, error, text", REFUSED)
def test_refusals(tmp_path, call, error, text):
    t = make(tmp_path, sine(1, 100, 10), delta=0.01)
    with pytest.raises(error, match=re.escape(text)):
        call(t)


@pytest.mark.parametrize("fields, text", [
    (dict(x=np.arange(100.0)), "filter: the trace is uneven (x is not None)"),
    ({}, "filter: DELTA None gives no sampling rate"),
    (dict(delta=0.01, nan=3), "filter: data[3] is nan")])
def test_refused_traces(tmp_path, fields, text):
    y = sine(1, 100, 1)
    if "nan" in fields:
        y[fields.pop("nan")] = np.nan
    t = make(tmp_path, y, **fields)
    with pytest.raises(ValueError, match=re.escape(text)):
        t.filter("lowpass", freq=5)


def test_without_scipy_filters_say_what_to_install(tmp_path, monkeypatch):
    t = make(tmp_path, sine(1, 100, 10), delta=0.01)
    monkeypatch.setitem(sys.modules, "scipy", None)
    monkeypatch.setitem(sys.modules, "scipy.signal", None)
    for what, call in (("filter", lambda: t.filter("lowpass", freq=5)),
                       ("design", lambda: _process.design("lowpass", (5,), 4, 100))):
        with pytest.raises(ImportError, match=re.escape(
                f"kivf: {what} needs scipy (Debian: apt-get install python3-scipy)")):
            call()
    assert t.detrend().data.size == t.taper(0.1).data.size == len(t.data)  # numpy is enough
