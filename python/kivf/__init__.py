# SPDX-License-Identifier: Apache-2.0
"""KIV waveform files in Python, and miniSEED files read and written.

read(path) -> Trace            a KIV file: samples as numpy float32, header fields by name
read(path) -> [Trace]          a miniSEED file: a Trace for each continuous segment of each
                               channel, as msxlate converts it
read([paths] or "pattern*", merge=False) -> [Trace]    KIV and miniSEED files alike
write(path, data, x=None, **fields)
write_mseed(path, traces, reclen=512, encoding=None, quality="D", network=None,
            station=None, location=None, channel=None)
Trace.write(path, format="kiv" or "mseed", **write_mseed's options)
Trace.detrend(type="demean" or "linear"), .taper(fraction), .decimate(factor),
.filter(kind, freqmin=None, freqmax=None, freq=None, corners=4, zerophase=False)
                               new Traces for a quick look; filters and decimation need scipy
merge(traces) -> [Trace]       contiguous traces of one channel joined
spans(paths) -> [Span]         each channel's continuous spans, gaps and overlaps, from
                               the KIV files' headers alone
sphgeo(slat, slon, elat, elon) -> (delta, dist, azim, bazim)

A miniSEED file is told from a KIV file by its first 8 bytes, whatever its name: a sequence
number of six digits, blanks or NULs, a quality indicator D, R, Q or M, then a blank or a
NUL. Reading and writing miniSEED need a kivf built with libmseed (kivf._kivf.mseed); without
it, reading such a file raises KivValueError and write_mseed NotImplementedError, both saying
so. Notes the reader gives (a record or segment repeated, a record without samples) are
warnings of the class KivWarning, their texts the library's ("NOTE 2065: ...").

A Trace's positions and distance as named tuples of floats (None where undefined):
.station_position  (latitude, longitude, elevation_m, depth_m)  STLA STLO STEL STDP
.event_position    (latitude, longitude, depth_km)              EVLA EVLO EVDP
.distance          (degrees, km, azimuth, back_azimuth)         GCARC DIST AZ BAZ
each None itself when its first field (STLA or STLO, EVLA or EVLO, GCARC) is undefined.

Failures the library reports raise KivError, whose .number is the message number, as a
KivOSError (an OSError: the file system; KivFileNotFoundError, a FileNotFoundError, for a
missing file) or a KivValueError (a ValueError: the contents); the text is the library's
message, e.g. "ERROR 1410: KIV file does not exist: x.kiv"; nothing is printed. A miniSEED
file any of whose records is refused raises the first refusal ("ERROR 2066: ...").
Arguments the library could not take as given (a path ending in a blank, a text longer than
its field, an unknown field name) raise ValueError or TypeError saying which; none is altered.
"""
import glob
import os
import re
import warnings

import numpy as np

from . import _kivf, _runs
from ._kivf import KivError, KivFileNotFoundError, KivOSError, KivValueError
# The times' helpers stay reachable here as well (kivf._time), though only the Trace uses them.
from ._times import _NAT, _datetime, _days, _said, _time, _us
from ._trace import Trace, _float32, _path, write_mseed
from ._spans import spans

__version__ = _kivf.__version__
__all__ = ["Trace", "read", "write", "write_mseed", "merge", "spans", "sphgeo", "KivError",
           "KivOSError", "KivFileNotFoundError", "KivValueError", "KivWarning"]


class KivWarning(UserWarning):
    """A note the library gave while reading (e.g. "NOTE 2068: ..."): nothing was lost."""


def merge(traces):
    """Joins traces of one channel (network, station, location, component, DELTA and SCALE
    alike) end to end in time order on the nominal sampling grid: a trace whose start lies
    less than half a nominal interval from where the previous one's grid continues (its start
    plus its samples' nominal intervals, to the microsecond) continues that grid; further
    away it is a gap or an overlap and stays apart.

    Returns a list: the channels in the order they first appear, each one's pieces in time
    order. A joined trace has the first piece's header (its start and DELTA, from which every
    sample's time follows) with NPTS, E, DEPMIN, DEPMAX, DEPMEN computed anew; a trace that
    joins nothing (uneven ones and those without a start or DELTA never do) is returned as
    it is. Pieces that start on the grid keep every sample's time (to the microsecond where
    the interval is a whole number of them, else within one).
    """
    out = []
    for _, runs in _runs.channels(traces, lambda t: t, Trace._start, lambda t: len(t.data)):
        for run, _ in runs:
            if len(run) == 1:  # joins nothing, or nothing joins it
                out.append(run[0])
                continue
            data = np.concatenate([r.data for r in run])
            out.append(Trace(_kivf.derive(run[0]._hdr, data, None, {}), data))
    return out


_merge = merge  # read's argument of that name hides it there


def _load(path):
    """The file at path, never taken as a pattern: a Trace of a KIV file or the list of a
    miniSEED file's, and the texts of the notes reading it gave."""
    got, notes, mseed = _kivf.read(_path(path))
    traces = [Trace(*t) for t in got]
    return (traces if mseed else traces[0]), notes


def _magic(path):
    return re.search(b"[*?[]" if isinstance(path, bytes) else "[*?[]", path) is not None


def _names(path):
    """The files read's argument names, and whether it is one path (not a list or pattern)."""
    if isinstance(path, (list, tuple)):
        return path, False
    if isinstance(path, (str, bytes)) and _magic(path) and not os.path.lexists(path):
        names = sorted(glob.glob(path))
        if not names:
            raise KivFileNotFoundError(f"no file matches {os.fsdecode(path)}")
        return names, False
    return [path], True


def read(path, merge=False):
    """Reads KIV files written in either byte order, and miniSEED files.

    One path (str, bytes or os.PathLike) of a KIV file gives a Trace; of a miniSEED file, a
    list of Traces, one for each continuous segment of each channel (network, station,
    location, channel), as msxlate converts it: the same header fields and samples. A list
    or tuple of paths, or a str or bytes holding a glob pattern (*, ? or [...]; a
    pathlib.Path, or a name that exists as it stands, is always one file), gives a list of
    Traces: the list's order, the pattern's matches sorted by name, a miniSEED file's traces
    in its place; joined by kivf.merge when merge is true. A pattern that matches nothing
    raises KivFileNotFoundError. Notes given while reading a miniSEED file are KivWarnings.
    """
    names, one = _names(path)
    traces = []
    for name in names:
        got, notes = _load(name)
        for note in notes:
            warnings.warn(note, KivWarning, stacklevel=2)
        if not isinstance(got, list):
            if one:
                return got
            got = [got]
        traces.extend(got)
    return _merge(traces) if merge else traces


def write(path, data, x=None, **fields):
    """Writes data (any real 1-D array, stored as float32) as a KIV file, atomically.

    fields set header fields by name, any letter case: numbers (N...) take 32-bit ints (NVHDR
    only 6), texts (K...) str of at most 8 Latin-1 characters (KEVNM 16) without NUL,
    enumerated fields (I...) a value name such as "IVEL" or an ordinal, logicals (L...) bool,
    the rest floats. Nothing is cut: unknown names and values out of range raise ValueError,
    values of the wrong type TypeError. NPTS is len(data); LEVEN is false exactly when x (the
    independent values) is given. E, DEPMIN, DEPMAX and DEPMEN are computed as batch
    conversion computes them unless given (E = B + (NPTS-1)*DELTA when both are given, an
    uneven file's last x; the extremes and mean of the samples that are not NaN). When LCALDA
    is true (the default) and STLA, STLO, EVLA and EVLO are defined and finite, GCARC, DIST,
    AZ and BAZ that are undefined are computed from them by sphgeo (the positions as stored,
    the results rounded to float32); an azimuth of coincident positions stays undefined.
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
