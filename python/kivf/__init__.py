"""KIV waveform files in Python.

read(path) -> Trace            samples as numpy float32, header fields by name
write(path, data, x=None, **fields)
sphgeo(slat, slon, elat, elon) -> (delta, dist, azim, bazim)

Failures the library reports raise KivError, whose .number is the message number, as a
KivOSError (an OSError: the file system; KivFileNotFoundError, a FileNotFoundError, for a
missing file) or a KivValueError (a ValueError: the contents); the text is the library's
message, e.g. "ERROR 1410: KIV file does not exist: x.kiv"; nothing is printed.
Arguments the library could not take as given (a path ending in a blank, a text longer than
its field, an unknown field name) raise ValueError or TypeError saying which; none is altered.
"""
import os

import numpy as np

from . import _kivf
from ._kivf import KivError, KivFileNotFoundError, KivOSError, KivValueError

__version__ = _kivf.__version__
__all__ = ["Trace", "read", "write", "sphgeo", "KivError", "KivOSError", "KivFileNotFoundError",
           "KivValueError"]


def _path(path):
    return os.fsencode(path)  # used exactly as given, or refused (ValueError)


def _float32(values, what):
    """values as a contiguous 1-D float32 array; finite values beyond float32's range raise."""
    a = np.asarray(values)
    if a.ndim != 1:
        raise ValueError(f"{what} must be 1-D, not {a.ndim}-D")
    if a.dtype.kind not in "iuf":
        raise ValueError(f"{what} must be real numbers, not {a.dtype}")
    if a.dtype == np.float32:
        return np.ascontiguousarray(a)
    with np.errstate(over="ignore"):
        f = a.astype(np.float32)
    if a.dtype.kind == "f":
        bad = np.flatnonzero(np.isinf(f) & np.isfinite(a))
        if bad.size:
            i = bad[0]
            raise ValueError(f"{what}[{i}] = {a[i]!r} is beyond float32's range")
    return f


def _days(year):
    """Days from 1970-01-01 to January 1 of year, proleptic Gregorian as numpy counts them."""
    y = year - 1
    return 365 * (year - 1970) + y // 4 - y // 100 + y // 400 - 477  # 477 leap years to 1969


class Trace:
    """One KIV file: .data (float32), .x (independent values of an uneven file, else None),
    .header (the defined fields by catalogue name, floats as numpy.float32), .delta, .starttime,
    .times(), .stats()."""

    def __init__(self, raw, data, x=None, swapped=False):
        self._raw = raw
        self.data = data
        self.x = x
        self.swapped = swapped  # written in the other byte order
        self._header = None

    @property
    def header(self):
        if self._header is None:
            self._header = _kivf.header(self._raw)
        return self._header

    @property
    def delta(self):
        return self.header.get("DELTA")

    @property
    def starttime(self):
        """Reference time plus B, a numpy.datetime64 in microseconds (NaT when undefined or
        beyond what datetime64[us] holds)."""
        h = self.header
        try:
            y, d, hh, mm, ss, ms = (h[k] for k in ("NZYEAR", "NZJDAY", "NZHOUR", "NZMIN",
                                                    "NZSEC", "NZMSEC"))
            # In Python ints, exactly: numpy's own arithmetic would wrap round unnoticed.
            t = ((((_days(y) + d - 1) * 24 + hh) * 60 + mm) * 60 + ss) * 1000000
            t += ms * 1000 + round(float(h.get("B", 0.0)) * 1e6)
        except (KeyError, ValueError, OverflowError):
            t = None
        if t is None or not -2**63 < t < 2**63:  # -2**63 itself is NaT
            return np.datetime64("NaT", "us")
        return np.datetime64(t, "us")

    def times(self):
        """Seconds from the start (float64, from the stored float32 values): i * DELTA for even
        files, x - B for uneven ones."""
        if self.x is not None:
            return self.x.astype(np.float64) - float(self.header.get("B", 0.0))
        return np.arange(len(self.data), dtype=np.float64) * float(self.delta or 0.0)

    def stats(self):
        """(min, max, mean) of the samples; NaNs when there are none."""
        if len(self.data) == 0:
            return (float("nan"),) * 3
        return (float(self.data.min()), float(self.data.max()),
                float(self.data.mean(dtype=np.float64)))

    def write(self, path):
        """Writes this header and these samples as a KIV file (NPTS and LEVEN follow them)."""
        x = None if self.x is None else _float32(self.x, "x")
        _kivf.write_raw(_path(path), self._raw, _float32(self.data, "data"), x)

    def __repr__(self):
        h = self.header
        return (f"<kivf.Trace {h.get('KSTNM', '?')} {h.get('KCMPNM', '?')} "
                f"{len(self.data)} samples from {self.starttime}>")


def read(path):
    """Reads a KIV file written in either byte order."""
    return Trace(*_kivf.read(_path(path)))


def write(path, data, x=None, **fields):
    """Writes data (any real 1-D array, stored as float32) as a KIV file, atomically.

    fields set header fields by name, any letter case: numbers (N...) take 32-bit ints (NVHDR
    only 6), texts (K...) str of at most 8 Latin-1 characters (KEVNM 16) without NUL,
    enumerated fields (I...) a value name such as "IVEL" or an ordinal, logicals (L...) bool,
    the rest floats. Nothing is cut: unknown names and values out of range raise ValueError,
    values of the wrong type TypeError. NPTS is len(data); LEVEN is false exactly when x (the
    independent values) is given. E, DEPMIN, DEPMAX and DEPMEN are computed as batch
    conversion computes them unless given (E = B + (NPTS-1)*DELTA when both are given, an
    uneven file's last x; the extremes and mean of the samples that are not NaN).
    """
    y = _float32(data, "data")
    xs = None if x is None else _float32(x, "x")
    _kivf.write(_path(path), y, xs, fields)


def _real(values, what):
    """values as float64; complex values (whose imaginary part would be dropped), texts and
    objects are refused, as the plug-in refuses them."""
    a = np.asarray(values)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"sphgeo: {what} must be real numbers, not {a.dtype}")
    return a.astype(np.float64, copy=False)


def sphgeo(slat, slon, elat, elon):
    """Distance and azimuth of stations (slat, slon: arrays of one shape, degrees) from one
    event (elat, elon), the plug-in's computation bit for bit: angular distance (degrees),
    distance (km), azimuth at the event and back-azimuth at the station (degrees)."""
    slat, slon, elat, elon = (_real(v, k) for k, v in
                              (("slat", slat), ("slon", slon), ("elat", elat), ("elon", elon)))
    slat, slon = np.broadcast_arrays(slat, slon)
    if elat.size != 1 or elon.size != 1:
        raise ValueError("sphgeo: elat and elon must be one event position")
    return _kivf.sphgeo(slat, slon, float(elat.flat[0]), float(elon.flat[0]))
