# SPDX-License-Identifier: Apache-2.0
"""What an archive holds: each channel's continuous spans, their gaps and overlaps, found from
the KIV files' headers alone (a miniSEED file is read whole)."""
import warnings
from collections import namedtuple

import numpy as np

from . import _looks, _runs
from ._times import _datetime
from ._trace import _reference

Span = namedtuple("Span", "network station location channel start end samples rate files gap "
                  "note")
Span.__doc__ = """One continuous span of a channel, or a file that joins nothing.

network, station, location, channel  KNETWK, KSTNM, KHOLE, KCMPNM (str; None when undefined)
start, end   the first and the last sample's time, datetime64[us] (NaT when unknown)
samples      the samples it holds (int)
rate         the nominal rate DELTA stands for (Trace.sampling_rate; None without one)
files        the paths (as given) whose samples it holds, in time order, each once
gap          seconds from where the previous span of its channel (the same codes, DELTA and
             SCALE) continues its grid to this one's start: above 0 a gap, below 0 an
             overlap (never within half an interval of 0); None for a channel's first span
note         '' for a span; 'uneven', 'no start' or 'no rate' for a file that joins nothing,
             listed as a row of its own"""

# A file's piece: its Trace (samples not read for a KIV file), first sample's time (us),
# samples, unevenness and name as given.
_Piece = namedtuple("_Piece", "trace start npts uneven name")


def _pieces(name):
    """The pieces of the file at name (never a pattern) and the notes reading it gave: a KIV
    file's header alone, a miniSEED file's segments read whole (as the plot opens them)."""
    got, notes = _looks.sources(name)
    return [_Piece(s.trace, s.start, s.n, s.trace.x is not None, name) for s in got], notes


def _end(start, delta, n):
    """The time (us) of the nth sample from start on DELTA's nominal grid, or None."""
    return None if start is None or n < 1 else _runs.after(delta, start, n - 1)


def _span(piece, run, start, samples, gap, note):
    h = piece.trace.header
    files = tuple(dict.fromkeys(p.name for p in run))
    if note == "uneven":  # its last x: the reference time plus E, rounded as B is
        e, ref = h.get("E"), _reference(h)
        end = None if e is None or ref is None or not np.isfinite(e) else ref + round(
            float(e) * 1e6)
    else:
        end = None if note else _end(start, h["DELTA"], samples)
    return Span(h.get("KNETWK"), h.get("KSTNM"), h.get("KHOLE"), h.get("KCMPNM"), start, end,
                samples, piece.trace.sampling_rate, files, gap, note)


def _groups(pieces):
    """The spans (times in us) of each channel in time order, a file that joins nothing a
    channel of its own; the channels ordered by codes (undefined ones first), rate, start."""
    groups = []
    for key, runs in _runs.channels(pieces, lambda p: p.trace, lambda p: p.start,
                                    lambda p: p.npts):
        if key is None:
            p = runs[0][0][0]
            note = "uneven" if p.uneven else "no start" if p.start is None else "no rate"
            rows = [_span(p, [p], p.start, p.npts, None, note)]
        else:
            rows, last = [], None
            for run, after in runs:
                s = run[0].start
                gap = None if last is None else (s - last) / 1e6
                rows.append(_span(run[0], run, s, sum(p.npts for p in run), gap, ""))
                last = after
        r = rows[0]
        order = tuple("" if c is None else c for c in r[:4])
        groups.append(((order, r.rate or 0.0, -2**64 if r.start is None else r.start), rows))
    return [rows for _, rows in sorted(groups, key=lambda g: g[0])]


def _times(span):
    return span._replace(start=_datetime(span.start), end=_datetime(span.end))


def spans(paths):
    """The continuous spans of each channel in the files paths names (one path, a list or
    tuple of them, or a glob pattern, as kivf.read takes them), as an availability listing
    shows them: a list of Span (see kivf._spans.Span), each channel's in time order, the
    channels ordered by network, station, location, channel, then rate.

    A channel is the files of one network, station, location and component code, DELTA and
    SCALE: its files are joined as kivf.merge joins them (a file continuing the previous one's
    nominal grid within half an interval), from the KIV files' headers alone; a miniSEED file
    is read whole, its segments taken as files. A span's end is the time of its last sample on
    the grid. Files of one channel at two rates are two channels, each with its rows. Uneven
    files, and those without a start or a DELTA with a nominal rate, join nothing: each is a
    row of its own, marked by its note (its end, of an uneven file, the reference time plus E).

    A channel's rows follow each other, the first with gap None: its gaps are the rows whose
    gap is above 0, its overlaps those below 0. Raises as kivf.read does on the first file that
    cannot be read; notes given reading a miniSEED file are KivWarnings.
    """
    from . import KivWarning, _names  # the package's, once it is made
    pieces = []
    for name in _names(paths)[0]:
        got, notes = _pieces(name)
        for note in notes:
            warnings.warn(note, KivWarning, stacklevel=2)
        pieces.extend(got)
    return [_times(s) for rows in _groups(pieces) for s in rows]
