# SPDX-License-Identifier: Apache-2.0
"""Processing for a quick look: trend and mean removed, tapers, Butterworth filters and
decimation, each giving a new Trace (samples computed in float64, stored float32, DEPMIN,
DEPMAX, DEPMEN and E computed anew). Filters need scipy, imported only when one is made."""
import numbers

import numpy as np

from . import _kivf

KINDS = {"bandpass": 2, "lowpass": 1, "highpass": 1}  # a kind's number of corner frequencies


def _signal(what):
    """scipy.signal, or an ImportError saying what needs it."""
    try:
        from scipy import signal
    except ImportError as e:
        raise ImportError(f"kivf: {what} needs scipy (Debian: apt-get install python3-scipy)"
                          ) from e
    return signal


def _new(trace, data, fields=None):
    from ._trace import _float32  # here: _trace imports this module
    y, x = _float32(data, "data"), None if trace.x is None else trace.x.copy()
    return type(trace)(_kivf.derive(trace._hdr, y, x, fields or {}), y, x)


def _finite(trace, what):
    """The samples as float64; NaN or infinite ones raise ValueError."""
    y = trace.data.astype(np.float64)
    bad = np.flatnonzero(~np.isfinite(y))
    if bad.size:
        raise ValueError(f"{what}: data[{bad[0]}] is {y[bad[0]]}: remove or fill such samples "
                         f"first")
    return y


def _even_rate(trace, what):
    """The nominal rate of an even trace; ValueError for uneven ones and those without."""
    if trace.x is not None:
        raise ValueError(f"{what}: the trace is uneven (x is not None): no sampling rate")
    rate = trace.sampling_rate
    if rate is None:
        raise ValueError(f"{what}: DELTA {trace.delta} gives no sampling rate")
    return rate


def _zerophase(signal, sos, y, what):
    """sos applied forwards and backwards, padded at each end by odd reflection; traces not
    longer than the padding are refused rather than padded less."""
    pad = 3 * (2 * len(sos) + 1)
    if len(y) <= pad:
        raise ValueError(f"{what}: {len(y)} samples are too few: this filter needs more than "
                         f"{pad}")
    return signal.sosfiltfilt(sos, y, padlen=pad)


def _corners(kind, freqs, names, what):
    """freqs as floats after checking them against kind; ValueError or TypeError naming the
    argument at fault."""
    if kind not in KINDS:
        raise ValueError(f"{what}: no filter kind {kind!r} (kinds: {', '.join(KINDS)})")
    if len(freqs) != KINDS[kind]:
        raise ValueError(f"{what}: {kind} takes {KINDS[kind]} corner frequencies, not "
                         f"{len(freqs)}")
    for f, name in zip(freqs, names):
        if not isinstance(f, numbers.Real) or isinstance(f, bool):
            raise TypeError(f"{what}: {name} must be a number, not {type(f).__name__}")
        if not (np.isfinite(f) and f > 0):
            raise ValueError(f"{what}: {name} must be a finite number above 0, not {f}")
    if kind == "bandpass" and not freqs[0] < freqs[1]:
        raise ValueError(f"{what}: {names[0]} {freqs[0]} must be below {names[1]} {freqs[1]}")
    return tuple(float(f) for f in freqs)


def _design(kind, freqs, corners, rate, names, what):
    freqs = _corners(kind, freqs, names, what)
    if not isinstance(corners, numbers.Integral) or isinstance(corners, bool):
        raise TypeError(f"{what}: corners must be an int, not {type(corners).__name__}")
    if corners < 1:
        raise ValueError(f"{what}: corners must be 1 or more, not {corners}")
    if not (isinstance(rate, numbers.Real) and np.isfinite(rate) and rate > 0):
        raise ValueError(f"{what}: rate must be a finite number above 0, not {rate}")
    for f, name in zip(freqs, names):
        if f >= rate / 2:
            raise ValueError(f"{what}: {name} {f} Hz is not below the Nyquist frequency "
                             f"{rate / 2} Hz")
    return _signal(what).butter(int(corners), freqs if kind == "bandpass" else freqs[0],
                                btype=kind, output="sos", fs=float(rate))


def design(kind, freqs, corners, rate):
    """The second-order sections (scipy's sos array) of a Butterworth filter of corners poles
    (twice as many for a bandpass) for samples at rate (Hz): kind "bandpass" with freqs (lo,
    hi), "lowpass" or "highpass" with freqs (f,), in Hz, above 0 and below rate / 2.
    Refuses what Trace.filter refuses; ImportError without scipy."""
    return _design(kind, tuple(freqs), corners, rate, ("freqs[0]", "freqs[1]"), "design")


def parse_filter(text):
    """(kind, freqs) of a filter written as "bandpass:LO:HI", "lowpass:F" or "highpass:F"
    (Hz), e.g. "bandpass:1:10" -> ("bandpass", (1.0, 10.0)); ValueError for other texts,
    corners not above 0 or a bandpass's LO not below HI, each saying what is wrong."""
    if not isinstance(text, str):
        raise TypeError(f"parse_filter: text must be a str, not {type(text).__name__}")
    kind, *parts = text.split(":")
    what = f"filter {text!r}"
    try:
        freqs = tuple(float(p) for p in parts)
    except ValueError:
        raise ValueError(f"{what}: the corners are not numbers (write bandpass:LO:HI, "
                         f"lowpass:F or highpass:F)") from None
    return kind, _corners(kind, freqs, ("LO", "HI") if kind == "bandpass" else ("F",), what)


def detrend(trace, type="demean"):
    """A new Trace whose samples have their mean ("demean") or their least-squares line
    through (time, sample) ("linear"; an uneven trace's times(), an even one's sample
    numbers, the same line) removed. NaN or infinite samples raise ValueError."""
    if type not in ("demean", "linear"):
        raise ValueError(f"detrend: type must be 'demean' or 'linear', not {type!r}")
    y = _finite(trace, "detrend")
    if y.size:
        y -= y.mean()
    if type == "linear" and y.size > 1:
        t = np.arange(y.size, dtype=np.float64) if trace.x is None else trace.times()
        t = t - t.mean()
        tt = np.dot(t, t)
        if tt > 0:  # all x alike leave no slope to remove
            y -= t * (np.dot(t, y) / tt)
    return _new(trace, y)


def taper(trace, fraction):
    """A new Trace with the first and last floor(fraction * NPTS) samples weighted by the
    halves of a Hann (cosine) window: the end samples become 0, the rest are untouched.
    fraction from 0 to 0.5, else ValueError; NaN samples stay NaN."""
    if not isinstance(fraction, numbers.Real) or isinstance(fraction, bool):
        raise TypeError(f"taper: fraction must be a number, not {type(fraction).__name__}")
    if not 0 <= fraction <= 0.5:
        raise ValueError(f"taper: fraction must be from 0 to 0.5, not {fraction}")
    y = trace.data.astype(np.float64)
    m = int(np.floor(fraction * y.size))
    if m:
        w = 0.5 * (1 - np.cos(np.pi * np.arange(m) / m))  # 0 at the end, rising towards 1
        y[:m] *= w
        y[y.size - m:] *= w[::-1]
    return _new(trace, y)


def filter(trace, kind, freqmin=None, freqmax=None, freq=None, corners=4, zerophase=False):
    """A new Trace filtered by a Butterworth filter of corners poles (twice as many for a
    bandpass) at the nominal rate (sampling_rate): kind "bandpass" between freqmin and freqmax,
    "lowpass" or "highpass" at freq (Hz). Causal (scipy's sosfilt, from rest at the first
    sample) unless zerophase, then applied forwards and backwards (sosfiltfilt: no phase
    shift, the amplitude response squared, -6 dB at the corners; it needs more than
    3 * (2 * S + 1) samples, S the filter's sections: corners / 2 rounded up, corners for a
    bandpass).

    Refused (ValueError naming the argument): an unknown kind, the other kinds' frequencies
    given, corner frequencies missing, not above 0 or not below the Nyquist frequency (a
    bandpass is never made a highpass), freqmin not below freqmax, corners below 1, uneven
    traces and DELTAs with no rate, NaN or infinite samples. ImportError without scipy."""
    if kind not in KINDS:
        raise ValueError(f"filter: no filter kind {kind!r} (kinds: {', '.join(KINDS)})")
    names = ("freqmin", "freqmax") if kind == "bandpass" else ("freq",)
    given = {"freqmin": freqmin, "freqmax": freqmax, "freq": freq}
    for name, f in given.items():
        if name in names and f is None:
            raise ValueError(f"filter: {kind} needs {name}")
        if name not in names and f is not None:
            raise ValueError(f"filter: {name} is not for {kind} (it takes {', '.join(names)})")
    freqs = tuple(given[n] for n in names)
    rate = _even_rate(trace, "filter")
    sos = _design(kind, freqs, corners, rate, names, "filter")
    y = _finite(trace, "filter")
    signal = _signal("filter")
    if zerophase:
        y = _zerophase(signal, sos, y, "filter")
    elif y.size:
        y = signal.sosfilt(sos, y)
    return _new(trace, y)


def decimate(trace, factor):
    """A new Trace of every factor-th sample (an int from 2), the first one kept, after a
    zero-phase anti-alias lowpass (Chebyshev type I, 8 poles, 0.05 dB ripple, corner at 0.8
    times the new Nyquist frequency); ceil(NPTS / factor) samples, the start unchanged, DELTA
    the float32 of factor times the nominal interval (so 100 Hz / 4 reads as 25 Hz).
    Refused (ValueError): uneven traces, DELTAs with no rate, NaN or infinite samples,
    traces of 27 samples or fewer (too short for the filter). ImportError without scipy."""
    if not isinstance(factor, numbers.Integral) or isinstance(factor, bool):
        raise TypeError(f"decimate: factor must be an int, not {type(factor).__name__}")
    if factor < 2:
        raise ValueError(f"decimate: factor must be 2 or more, not {factor}")
    _even_rate(trace, "decimate")
    y = _finite(trace, "decimate")
    signal = _signal("decimate")
    sos = signal.cheby1(8, 0.05, 0.8 / factor, output="sos")  # of the old Nyquist frequency
    y = _zerophase(signal, sos, y, "decimate")[::factor]
    delta = np.float32(_kivf.nominal(trace.delta)[1] * int(factor))
    return _new(trace, y, {"DELTA": delta})
