# SPDX-License-Identifier: Apache-2.0
"""python3 -m kivf spans [--csv] FILE...   each channel's continuous spans, gaps and overlaps"""
import csv
import errno
import os
import sys

from . import _spans
from ._times import _datetime

_HEAD = ("NET", "STA", "LOC", "CHA", "START", "END", "SAMPLES", "RATE", "GAP")
_CSV = ("network", "station", "location", "channel", "start", "end", "samples", "rate", "gap",
        "note", "gaps", "overlaps", "files")


def add_parser(sub):
    p = sub.add_parser(
        "spans", help="list each channel's continuous spans, gaps and overlaps",
        description="Each channel's (network, station, location, channel and rate) continuous "
        "spans, files joined as kivf.merge joins them, from the KIV files' headers alone (a "
        "miniSEED file is read whole): first and last sample's time (UTC), samples, nominal "
        "rate, and GAP, the seconds from where the channel's previous span continues to this "
        "one's start (above 0 a gap, below 0 an overlap); a line under each channel counts "
        "them. Uneven files and those without a start or rate are rows of their own, GAP "
        "saying so.")
    p.add_argument("--csv", action="store_true",
                   help="comma-separated values with a header row, times to the microsecond, "
                   "each row with its channel's gaps and overlaps and its number of files")
    p.add_argument("files", nargs="+", metavar="FILE", help="KIV or miniSEED files")
    p.set_defaults(run=run)


def _number(v):
    """A float in its shortest exact text, whole ones without '.0'; '' for None."""
    return "" if v is None else repr(v)[:-2] if repr(v).endswith(".0") else repr(v)


def _when(us, digits):
    """Microseconds since 1970 as ISO UTC text with digits (3 or 6) below the second."""
    return "" if us is None else str(_datetime(us))[:digits - 6 or None] + "Z"


def _counts(rows):
    return sum(s.gap > 0 for s in rows if s.gap), sum(s.gap < 0 for s in rows if s.gap)


def _plural(n, what):
    return f"{n} {what}{'' if n == 1 else 's'}"


def _text(groups, out):
    times = [t for rows in groups for s in rows for t in (s.start, s.end) if t is not None]
    digits = 3 if all(t % 1000 == 0 for t in times) else 6
    lines = []
    for rows in groups:
        for s in rows:
            codes = ("--" if not c else c for c in s[:4])
            gap = s.note or ("" if s.gap is None else ("+" if s.gap > 0 else "") + _number(s.gap))
            lines.append((*codes, _when(s.start, digits) or "-", _when(s.end, digits) or "-",
                          str(s.samples), _number(s.rate) or "-", gap))
        if not rows[0].note:
            gaps, overlaps = _counts(rows)
            lines.append(f"{_plural(len(rows), 'span')}, {_plural(gaps, 'gap')}, "
                         f"{_plural(overlaps, 'overlap')}")
    rows = [_HEAD] + [r for r in lines if isinstance(r, tuple)]
    width = [max(len(r[k]) for r in rows) for k in range(len(_HEAD))]
    indent = sum(width[:4]) + 4
    for r in [_HEAD] + lines:
        if isinstance(r, str):  # a channel's summary, under its rows' times
            out.write(" " * indent + r + "\n")
            continue
        cells = [c.rjust(w) if k in (6, 7) else c.ljust(w) for k, (c, w) in
                 enumerate(zip(r, width))]
        out.write(" ".join(cells).rstrip() + "\n")


def _csv(groups, out):
    w = csv.writer(out, lineterminator="\n")
    w.writerow(_CSV)
    for rows in groups:
        gaps, overlaps = _counts(rows)
        for s in rows:
            w.writerow(["" if c is None else c for c in s[:4]] +
                       [_when(s.start, 6), _when(s.end, 6), s.samples, _number(s.rate),
                        _number(s.gap), s.note, gaps, overlaps, len(s.files)])


def run(a):
    from .__main__ import _gather, _lost  # the command line's own, once it is made
    pieces, status = _gather("spans", a.files, _spans._pieces)
    groups = _spans._groups(pieces)
    try:
        if sys.stdout is None:  # closed when the interpreter started
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        if a.csv:
            _csv(groups, sys.stdout)
        elif groups:
            _text(groups, sys.stdout)
        sys.stdout.flush()
    except OSError as err:
        _lost("kivf spans", err)
        return 2
    return status
