# SPDX-License-Identifier: Apache-2.0
"""The samples a quick look draws: files opened for their samples in pieces (KIV files, so that
a record of any length is gone through in the memory of one piece) or read whole (miniSEED and
uneven files), joined into runs by the package's one rule, processed as the plot asks, and
drawn either sample by sample or, for long runs, as the least and greatest sample of each
pixel column, so that every peak stays visible and the drawing grows with the picture, not
with the record."""
import numpy as np

from . import _kivf, _runs
from ._trace import Trace, _path

_PIECE = 1 << 20  # samples read at a time: 4 MB of float32
DENSE = 200_000  # up to this many samples in view, a panel draws every one of them


class Source:
    """One trace's header and samples: in memory, or in a KIV file read in pieces."""

    def __init__(self, trace, pieces=None):
        self.trace = trace
        self.pieces = pieces
        self.n = pieces.npts if pieces is not None else len(trace.data)
        self.start = trace._start()

    def read(self, first, count):
        if self.pieces is None:
            return self.trace.data[first:first + count]
        return self.pieces.read(first, count)

    def whole(self):
        """The trace with its samples (read now when they are still in the file)."""
        if self.pieces is not None:
            self.trace = Trace(self.trace._hdr, self.read(0, self.n), None, self.trace.swapped)
            self.pieces = None
        return self.trace


def sources(path):
    """The file at path as Sources, and the notes reading it gave: a KIV file of even samples is
    only opened (its header read); miniSEED and uneven files are read whole."""
    from . import _load  # the package's, once it is made
    try:
        pieces = _kivf.Pieces(_path(path))
    except _kivf.KivValueError:  # not a KIV file: miniSEED, or refused as KIV files are
        got, notes = _load(path)
        return [Source(t) for t in (got if isinstance(got, list) else [got])], notes
    trace = Trace(pieces.header, np.empty(0, np.float32), None, pieces.swapped)
    if trace.header.get("LEVEN", True):
        return [Source(trace, pieces)], []
    got, notes = _load(path)
    return [Source(got)], notes


class Run:
    """Pieces of one channel that continue one sampling grid: samples indexed from the first
    piece's first, each at start + its nominal offset; or one trace that joins nothing."""

    def __init__(self, pieces):
        self.pieces = pieces
        self.trace = pieces[0].trace
        self.start = pieces[0].start
        self.n = sum(p.n for p in pieces)
        key = _runs.channel(self.trace.header, self.start, self.trace.x is not None)
        self.even = key is not None  # else drawn as it is, on its own times

    def offset(self, i):
        """Microseconds from the first sample to sample i (a Python int), or None."""
        off = _kivf.offsets(self.trace.delta, i, 1)
        return None if off is None else int(off[0])

    def window(self, lo, hi):
        """The samples i0 .. i1-1 whose times lie in [lo, hi] (us, None for no bound)."""
        def first_at(t, inclusive):  # the first sample at (or after) t
            a, b = 0, self.n
            while a < b:
                m = (a + b) // 2
                off = self.offset(m)
                at = self.start + off if off is not None else float("inf")
                if at > t or (inclusive and at == t):
                    b = m
                else:
                    a = m + 1
            return a
        i0 = 0 if lo is None else first_at(lo, True)
        i1 = self.n if hi is None else first_at(hi, False)
        return i0, max(i0, i1)

    def chunks(self, i0, i1):
        """Samples i0 .. i1-1 as float32 arrays of at most _PIECE, in order."""
        base = 0
        for p in self.pieces:
            a, b = max(i0, base), min(i1, base + p.n)
            for first in range(a, b, _PIECE):
                yield p.read(first - base, min(_PIECE, b - first))
            base += p.n

    def times(self, i0, count):
        """The times of samples i0 .. i0+count-1 as datetime64[us]."""
        off = _kivf.offsets(self.trace.delta, i0, count)
        return np.datetime64(self.start, "us") + off.astype("timedelta64[us]")


def runs(items):
    """Sources joined into runs by channel: the runs of each channel in time order, channels
    in the order they first appear; a source that joins nothing is a run of its own."""
    return [Run(run) for _, runs in _runs.channels(items, lambda s: s.trace, lambda s: s.start,
                                                     lambda s: s.n) for run, _ in runs]


def values(run, i0, i1, scale=None, demean=False, sos=None, lead=0, taper=0):
    """Samples i0 .. i1-1 of the run in float64 pieces: times scale, then less their mean (NaN
    samples left out of it) when demean or sos, then filtered by the second-order sections sos
    (causal), the filter's state carried from piece to piece. A filter starts up to lead
    samples before i0 (as many as the run has), on samples tapered in from 0 over the first
    taper (half a Hann window), so that neither an offset nor the window's edge sets it
    ringing in what is shown."""
    j0 = max(0, i0 - lead) if sos is not None else i0
    mean = 0.0
    if demean or sos is not None:
        total, count = 0.0, 0
        for y in run.chunks(j0, i1):
            good = ~np.isnan(y)
            total += float(np.sum(y[good], dtype=np.float64))
            count += int(good.sum())
        mean = total / count if count else 0.0
    state, ramp = None, np.empty(0)
    if sos is not None:
        from ._process import _signal
        sosfilt = _signal("the plot's filter").sosfilt
        state = np.zeros((len(sos), 2))
        ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(taper) / max(taper, 1))
    done, skip = 0, i0 - j0
    for y in run.chunks(j0, i1):
        v = y.astype(np.float64)
        if scale is not None:
            v *= scale
        if mean:
            v -= mean * (scale if scale is not None else 1.0)
        if sos is not None:
            if done < len(ramp):
                k = min(len(v), len(ramp) - done)
                v[:k] *= ramp[done:done + k]
            done += len(v)
            v, state = sosfilt(sos, v, zi=state)
        if skip:
            cut, skip = min(skip, len(v)), skip - min(skip, len(v))
            v = v[cut:]
        if len(v):
            yield v


def envelope(pieces, count, bins):
    """The least and greatest value in each of bins runs of count values that come in pieces
    (the first and last index of each bin: (k * count) // bins): (edges, least, greatest) with
    the edges the bins' first indices; NaNs are passed over, a bin of NaNs alone gives NaN."""
    edges = (np.arange(bins + 1, dtype=np.int64) * count) // bins
    least, most = np.full(bins, np.inf), np.full(bins, -np.inf)
    pos = 0
    for v in pieces:
        if not len(v):
            continue
        k0 = int(np.searchsorted(edges, pos, "right")) - 1
        k1 = int(np.searchsorted(edges, pos + len(v), "left"))
        starts = np.maximum(edges[k0:k1], pos) - pos
        with np.errstate(invalid="ignore"):
            least[k0:k1] = np.fmin(least[k0:k1], np.fmin.reduceat(v, starts))
            most[k0:k1] = np.fmax(most[k0:k1], np.fmax.reduceat(v, starts))
        pos += len(v)
    least[np.isinf(least) & (least > 0)] = np.nan  # bins of NaNs alone
    most[np.isinf(most) & (most < 0)] = np.nan
    return edges[:-1], least, most
