# SPDX-License-Identifier: Apache-2.0
"""The Trace: one KIV file as read or made, its sample times, slices and writing."""
import os
from collections import namedtuple

import numpy as np

from . import _kivf, _process
from ._times import _FIRST, _LAST, _NAT, _datetime, _days, _said, _time, _us

# Times relative to the reference time besides B and E, moved with it when a slice moves it.
_RELATIVE = ("O", "A", "F", *(f"T{k}" for k in range(10)))


StationPosition = namedtuple("StationPosition", "latitude longitude elevation_m depth_m")
EventPosition = namedtuple("EventPosition", "latitude longitude depth_km")
Distance = namedtuple("Distance", "degrees km azimuth back_azimuth")


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


def _reference(h):
    """The reference time in microseconds since 1970 as a Python int, or None when undefined."""
    try:
        y, d, hh, mm, ss, ms = (h[k] for k in ("NZYEAR", "NZJDAY", "NZHOUR", "NZMIN", "NZSEC",
                                               "NZMSEC"))
    except KeyError:
        return None
    # In Python ints, exactly: numpy's own arithmetic would wrap round unnoticed.
    return (((((_days(y) + d - 1) * 24 + hh) * 60 + mm) * 60 + ss) * 1000 + ms) * 1000


class Trace:
    """One KIV file: .data (float32), .x (independent values of an uneven file, else None),
    .header (the defined fields by catalogue name, floats as numpy.float32), .delta,
    .sampling_rate, .starttime, .endtime, .station_position, .event_position, .distance,
    .times(), .utc_times(), .slice(), .stats(); for a quick look, each giving a new Trace:
    .detrend(), .taper(), .filter(), .decimate()."""

    __module__ = "kivf"  # kivf.Trace, where pickles and reprs look for it

    def __init__(self, header, data, x=None, swapped=False):
        self._hdr = header  # the library's decoded header, written again bit for bit
        self._header = None  # its fields as a dict, made when first asked for
        self.data = data
        self.x = x
        self.swapped = swapped  # written in the other byte order

    @property
    def header(self):
        if self._header is None:
            self._header = self._hdr.fields()
        return self._header

    @property
    def delta(self):
        return self.header.get("DELTA")

    @property
    def sampling_rate(self):
        """The nominal rate DELTA stands for, as the library reads it: the simplest decimal
        rate or interval whose interval is the stored float32 (40.0 for the float nearest
        0.025, 1/3 for one of 3 s); None when DELTA is undefined or not a finite number above
        0. See README, "Time and sampling rate"."""
        d = self.delta
        n = None if d is None else _kivf.nominal(d)
        return None if n is None else n[0]

    def _named(self, kind, names, needed):
        """kind of the fields names as Python floats, None where undefined; None when any of
        the first needed is undefined."""
        values = [None if (v := self.header.get(k)) is None else float(v) for k in names]
        return None if None in values[:needed] else kind(*values)

    @property
    def station_position(self):
        """StationPosition(latitude, longitude, elevation_m, depth_m) from STLA, STLO (degrees),
        STEL, STDP (metres); None when STLA or STLO is undefined, elevation or depth None when
        theirs is."""
        return self._named(StationPosition, ("STLA", "STLO", "STEL", "STDP"), 2)

    @property
    def event_position(self):
        """EventPosition(latitude, longitude, depth_km) from EVLA, EVLO (degrees), EVDP (km);
        None when EVLA or EVLO is undefined, the depth None when EVDP is."""
        return self._named(EventPosition, ("EVLA", "EVLO", "EVDP"), 2)

    @property
    def distance(self):
        """Distance(degrees, km, azimuth, back_azimuth) from GCARC, DIST, AZ (at the event
        towards the station) and BAZ (at the station towards the event), as the header holds
        them (kivf.write fills them from the positions); None when GCARC is undefined, the
        others None when theirs is."""
        return self._named(Distance, ("GCARC", "DIST", "AZ", "BAZ"), 1)

    def _offsets(self, first, count):
        """Microseconds (int64) from the first sample to samples first .. first+count-1 of an
        even trace at the nominal interval, exact; None when uneven or DELTA has no nominal
        value."""
        d = self.delta
        return None if self.x is not None or d is None else _kivf.offsets(d, first, count)

    def _start(self):
        """The first sample's time in microseconds (a Python int), or None."""
        ref = self._reference()
        try:
            return None if ref is None else ref + round(float(self.header.get("B", 0.0)) * 1e6)
        except (ValueError, OverflowError):  # B is NaN or infinite
            return None

    def _reference(self):
        return _reference(self.header)

    @property
    def starttime(self):
        """Reference time plus B, a numpy.datetime64 in microseconds (NaT when undefined or
        beyond what datetime64[us] holds)."""
        return _datetime(self._start())

    def times(self):
        """Seconds from the start (float64): of even files the nominal interval's multiples to
        the microsecond (as utc_times() and kivhdr give them), of uneven ones x - B from the
        stored float32 values."""
        if self.x is not None:
            return self.x.astype(np.float64) - float(self.header.get("B", 0.0))
        off = self._offsets(0, len(self.data))
        if off is not None:
            return off / 1e6
        return np.arange(len(self.data), dtype=np.float64) * float(self.delta or 0.0)

    def _timeless(self):
        return np.isnat(self.starttime) or (self.x is None and self.delta is None)

    def _at(self, seconds):
        """Times from the start as datetime64[us] (rounded to the microsecond); NaT where not
        a number or beyond datetime64's range."""
        with np.errstate(invalid="ignore"):
            us = np.round(np.asarray(seconds, dtype=np.float64) * 1e6)
            fits = np.isfinite(us) & (np.abs(us) < 2.0**63)  # as int64, then placed exactly
        out = self._at_us(np.where(fits, us, 0).astype(np.int64))
        out[~fits] = _NAT
        return out

    def _at_us(self, us):
        """Microsecond offsets from the start (int64) as datetime64[us]; NaT beyond its range,
        and all NaT when there are no times."""
        out = np.full(us.shape, _NAT)
        if self._timeless():
            return out
        start = self._start()
        lo, hi = max(_FIRST - start, -2**63), min(_LAST - start, 2**63 - 1)
        ok = (us >= lo) & (us <= hi)
        out[ok] = np.datetime64(start, "us") + us[ok].astype("timedelta64[us]")
        return out

    def utc_times(self):
        """The time of each sample, datetime64[us]: of even files the start plus the nominal
        interval's multiples, exact to the microsecond; of uneven ones the start plus times();
        all NaT when the start is undefined or an even file has no DELTA."""
        off = self._offsets(0, len(self.data))
        return self._at(self.times()) if off is None else self._at_us(off)

    @property
    def endtime(self):
        """The last sample's time (datetime64[us]) as utc_times() gives it; NaT when there are
        no samples or no times."""
        n = len(self.data)
        if n == 0:
            return _NAT
        off = self._offsets(n - 1, 1)
        if off is not None:
            return self._at_us(off)[0]
        if self.x is not None:
            last = np.float64(self.x[-1]) - float(self.header.get("B", 0.0))
        else:
            last = np.float64(n - 1) * float(self.delta or 0.0)
        return self._at(last)[()]

    def slice(self, start=None, end=None):
        """A new Trace of the samples whose times (utc_times()) lie in [start, end], both ends
        included; start and end are datetime64, datetime or ISO texts, None for no bound.

        The header follows: NPTS, E, DEPMIN, DEPMAX, DEPMEN computed anew; when samples are cut
        at the front of an even trace the reference time moves to the new first sample's
        millisecond and B holds its microseconds (as batch conversion writes them), so the start
        stays exact; O, A, F and T0-T9 move with it. An uneven trace keeps its reference time
        and x, and B becomes the first x kept. No sample in the span gives an empty Trace; a
        trace without times, or start after end, raises ValueError. A bound beyond what
        datetime64[us] holds, in any unit, lies before the first sample or after the last."""
        lo, hi = _us(start, "start"), _us(end, "end")
        if self._timeless():
            raise ValueError("slice: the trace has no sample times (no start or no DELTA)")
        if lo is not None and hi is not None and lo > hi:  # exactly, not as clamped below
            raise ValueError(f"slice: start {_said(start, 'start')} is after end "
                             f"{_said(end, 'end')}")
        lo, hi = _time(start, "start"), _time(end, "end")
        t = self.utc_times()
        keep = ~np.isnat(t)
        if lo is not None:
            keep &= t >= lo
        if hi is not None:
            keep &= t <= hi
        index = np.flatnonzero(keep)
        fields = {}
        if self.x is not None:
            data, x = self.data[index], self.x[index]
            if index.size and index[0] > 0:
                fields["B"] = x[0]
        else:
            first = index[0] if index.size else 0
            data, x = self.data[first:first + index.size].copy(), None
            if first > 0:
                fields = self._moved(int(t[first].astype(np.int64)))
        return Trace(_kivf.derive(self._hdr, data, x, fields), data, x)

    def _moved(self, start):
        """Header fields that put the start at start (microseconds): the reference time at its
        millisecond, B the microseconds left, relative times moved by as much."""
        ms, us = divmod(start, 1000)
        fields = dict(zip(("NZYEAR", "NZJDAY", "NZHOUR", "NZMIN", "NZSEC", "NZMSEC"),
                          _kivf.split(ms * 1000)))
        fields["B"] = np.float32(us) / np.float32(1e6)
        shift = (ms * 1000 - self._reference()) / 1e6
        h = self.header
        for k in _RELATIVE:
            if k in h and np.isfinite(h[k]):
                fields[k] = np.float32(float(h[k]) - shift)
        return fields

    # Processing for a quick look, in _process.py (their docstrings there): new Traces.
    detrend, taper, filter, decimate = (_process.detrend, _process.taper, _process.filter,
                                        _process.decimate)

    def stats(self):
        """(min, max, mean) of the samples; NaNs when there are none."""
        if len(self.data) == 0:
            return (float("nan"),) * 3
        return (float(self.data.min()), float(self.data.max()),
                float(self.data.mean(dtype=np.float64)))

    def write(self, path, format="kiv", **options):
        """Writes this header as it stands and these samples as a KIV file (NPTS and LEVEN
        follow them; E, DEPMIN, DEPMAX and DEPMEN are not recomputed: a header from read() is
        written bit for bit, one from slice() or merge() was made for its samples).

        format="mseed" writes the trace as a miniSEED file instead, with write_mseed's
        options (reclen, encoding, quality, network, station, location, channel)."""
        if format == "mseed":
            write_mseed(path, self, **options)
            return
        if format != "kiv":
            raise ValueError(f"no format named {format!r} (formats: 'kiv', 'mseed')")
        if options:
            raise TypeError(f"write: {', '.join(options)} only for format='mseed'")
        x = None if self.x is None else _float32(self.x, "x")
        _kivf.write_header(_path(path), self._hdr, _float32(self.data, "data"), x)

    def __repr__(self):
        h = self.header
        return (f"<kivf.Trace {h.get('KSTNM', '?')} {h.get('KCMPNM', '?')} "
                f"{len(self.data)} samples from {self.starttime}>")


def _code(value, what):
    if value is None:
        return ""
    if not isinstance(value, str):
        raise TypeError(f"write_mseed: {what} must be a str or None, not {type(value).__name__}")
    return value


def write_mseed(path, traces, reclen=512, encoding=None, quality="D", network=None,
                station=None, location=None, channel=None):
    """Writes traces (a Trace, or a list of them) in order as one miniSEED 2 file, atomically:
    nothing is left of it when any trace is refused.

    Each trace's samples go into records of reclen bytes (a power of two from 256 to 1048576)
    numbered on from one trace to the next, with the quality indicator quality (D, R, Q or
    M), its start to the microsecond, and the rate DELTA stands for (see
    Trace.sampling_rate). encoding is "steim1", "steim2", "int16", "int32", "float32",
    "float64", or None to choose for each trace: Steim-2 for whole numbers whose differences
    fit it, int32 for other whole numbers, float32 for the rest; no encoding that would change
    a sample is used. network, station, location and channel stand in for the codes a trace's
    header leaves undefined (KNETWK, KSTNM, KHOLE, KCMPNM); a header's own codes are kept.

    Refusals raise KivValueError with the library's message number: an uneven trace, no
    samples, a code miniSEED cannot hold, a DELTA with no rate, an undefined start, times
    outside the years 1900 to 2100, an encoding that would change a sample; options the
    packer cannot take raise ValueError, a file that cannot be written KivOSError.
    """
    if isinstance(traces, Trace):
        items = [(traces, "trace")]
    else:
        items = [(t, f"traces[{i}]") for i, t in enumerate(traces)]
        bad = next((name for t, name in items if not isinstance(t, Trace)), None)
        if bad is not None:
            raise TypeError(f"write_mseed: {bad} is not a kivf.Trace")
    if not isinstance(reclen, int) or isinstance(reclen, bool):
        raise TypeError(f"write_mseed: reclen must be an int, not {type(reclen).__name__}")
    packs = [(t._hdr, _float32(t.data, "data"), None if t.x is None else _float32(t.x, "x"),
              name) for t, name in items]
    _kivf.write_mseed(_path(path), packs, reclen, _code(encoding, "encoding"),
                      _code(quality, "quality"), _code(network, "network"),
                      _code(station, "station"), _code(location, "location"),
                      _code(channel, "channel"))
