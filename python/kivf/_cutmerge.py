# SPDX-License-Identifier: Apache-2.0
"""kivf cut and kivf merge: windows of files, and channels' files joined, written as KIV files
named as msxlate names its outputs, NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv (an undefined
code empty, the first sample's UTC time to the millisecond, rounded down)."""
import argparse
import os

import numpy as np

from . import KivError, _kivf, _load, _runs
from . import merge as _join
from ._times import _said, _us

_CODES = ("KNETWK", "KSTNM", "KHOLE", "KCMPNM")
_STATUS = ("Exit status: 0 all written; 1 bad usage (a time not ISO, start after end, neither "
           "given), or no file has a sample in the window; 2 some input refused or some output "
           "not written (the others were). A file without a sample in the window is said on "
           "standard error and leaves the status alone.")
_NAMES = ("Outputs go into the existing directory DIR named NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS."
          "mmm.kiv from KNETWK, KSTNM, KHOLE, KCMPNM (empty where undefined; a code holding '/' "
          "or a blank, or '.' or '..', is refused) and the first sample's UTC time. An existing "
          "output is replaced whole, or with -k kept and the trace refused; an input is never "
          "replaced, nor an output of the same run.")
_JOIN = ("A channel's (network, station, location, component) files that follow on within half "
         "a sample are joined, each gap starting a new span and file; a channel whose files "
         "overlap in time or differ in DELTA is refused. Uneven files and those without a start "
         "time or DELTA are refused. Every sample's time is kept to the microsecond.")


def _iso(text):
    """An ISO UTC time argument, kept as text: slice reads it to the microsecond, also beyond
    datetime64[us]'s years."""
    try:
        _us(text, "time")
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an ISO time: {text!r}") from None
    return text


def add_parser(sub):
    pc = sub.add_parser("cut", help="write the samples between two times of each file (or of "
                        "each channel's joined files) as KIV files", epilog=_STATUS,
                        description="Writes the samples of each file's trace(s) whose times lie "
                        "in [--start, --end], both included, as KIV files; with --merge those of "
                        "each channel's files joined first. " + _NAMES + " " + _JOIN)
    pc.add_argument("--start", type=_iso, metavar="TIME",
                    help="the first time kept (ISO UTC, e.g. 2015-03-10T14:22:05.25)")
    pc.add_argument("--end", type=_iso, metavar="TIME", help="the last time kept")
    pc.add_argument("--merge", action="store_true", help="join each channel's files first")
    pm = sub.add_parser("merge", help="join each channel's contiguous files into one KIV file "
                        "a span", epilog=_STATUS, description="Writes one KIV file for each "
                        "span of each channel's files joined. " + _JOIN + " " + _NAMES)
    for p, run in ((pc, _cut), (pm, _merge)):
        p.add_argument("-o", "--output", required=True, metavar="DIR",
                       help="the directory written into (it must exist)")
        p.add_argument("-k", "--no-clobber", action="store_true",
                       help="keep an existing output and refuse its trace (status 2)")
        p.add_argument("files", nargs="+", metavar="FILE", help="KIV or miniSEED files")
        p.set_defaults(run=run)


def _cut(a):
    from .__main__ import _complain
    lo, hi = _us(a.start, "start"), _us(a.end, "end")
    if lo is None and hi is None:
        _complain("cut", "give --start or --end (or both)")
        return 1
    if lo is not None and hi is not None and lo > hi:
        _complain("cut", f"start {_said(a.start, 'start')} is after end {_said(a.end, 'end')}")
        return 1
    return _run("cut", a, a.merge, (a.start, a.end))


def _merge(a):
    return _run("merge", a, True, None)


def _run(cmd, a, join, window):
    """Reads every file, refuses what cannot be cut or joined, then writes each output."""
    from .__main__ import _complain

    def say(text):
        nonlocal status
        _complain(cmd, text)
        status = 2

    status, verb = 0, "cut" if cmd == "cut" else "merged"
    if not os.path.isdir(a.output) or not os.access(a.output, os.W_OK | os.X_OK):
        why = ("not writable" if os.path.isdir(a.output) else "not a directory"
               if os.path.lexists(a.output) else "no such directory")
        _complain(cmd, f"{a.output}: {why}: nothing written")
        return 2
    units, inputs = [], set()
    for f in a.files:
        try:
            got, notes = _load(f)
            st = os.stat(f)
        except (KivError, OSError, ValueError) as err:
            say(err)
            continue
        inputs.add((st.st_dev, st.st_ino))
        for note in notes:
            _complain(cmd, f"{f}: {note}")
        for t in got if isinstance(got, list) else [got]:
            why = _unfit(t)
            if why:
                say(f"{f}: {why}: cannot be {verb} by time")
            else:
                units.append((t, [f]))
    if join:
        channels = {}
        for t, fs in units:
            channels.setdefault(_codes(t), []).append((t, fs[0]))
        units = []
        for codes, pieces in channels.items():
            why = _clash(pieces)
            if why:
                say(f"{'.'.join(codes)}: {why}: channel not {verb}")
                continue
            for span in _join([t for t, _ in pieces]):
                s, e = span._start(), _last(span)
                units.append((span, [f for t, f in pieces if s <= t._start() <= e]))
    written, wrote = {}, False
    for t, fs in units:
        if window is not None:
            t = t.slice(*window)
            if len(t.data) == 0:
                lo, hi = (_said(w, "time") if w is not None else d for w, d in
                          zip(window, ("the start", "the end")))
                _complain(cmd, f"{', '.join(fs)}: {'.'.join(_codes(t))}: no sample between "
                          f"{lo} and {hi}")
                continue
        wrote = True
        name, why = _name(t)
        if why:
            say(f"{', '.join(fs)}: {why}: not written")
            continue
        path = os.path.join(a.output, name)
        if name in written:
            say(f"{path}: already written from {written[name]} in this run: {', '.join(fs)} "
                "not written")
            continue
        written[name] = ", ".join(fs)
        try:
            st = os.stat(path)
        except OSError:
            st = None
        if st is not None and (st.st_dev, st.st_ino) in inputs:
            say(f"{path}: is one of the inputs: not replaced by {', '.join(fs)}")
        elif st is not None and a.no_clobber:
            say(f"{path}: exists, kept (-k): {', '.join(fs)} not written")
        else:
            try:
                t.write(path)
            except (KivError, OSError, ValueError) as err:
                say(err)
    if window is not None and units and not wrote and status == 0:
        return 1  # the window misses every file, as plot counts it
    return status


def _unfit(t):
    """Why the trace has no sample times to cut or join by, or None."""
    d = t.delta
    if t.x is not None:
        return "uneven (x given)"
    if d is None or not (np.isfinite(d) and d > 0):
        return "no DELTA"
    if np.isnat(t.starttime):
        return "no start time"
    if len(t.data) == 0:
        return "no samples"
    return None


def _codes(t):
    return tuple(t.header.get(k) or "" for k in _CODES)


def _last(t):
    """The last sample's time in microseconds (a Python int)."""
    return _runs.after(t.delta, t._start(), len(t.data) - 1)


def _clash(pieces):
    """Why one channel's pieces [(trace, file)] cannot be joined (mixed DELTA, an overlap), or
    None."""
    rates = {}
    for t, f in pieces:
        rates.setdefault(t.delta, f)
    if len(rates) > 1:
        return "mixed rates: " + ", ".join(f"DELTA {np.float32(d)!s} ({f})"  # its shortest text
                                           for d, f in rates.items())
    reach = None  # (time of the last sample reached so far, its file)
    for s, e, f in sorted((t._start(), _last(t), f) for t, f in pieces):
        if reach is not None and s <= reach[0]:
            return (f"{reach[1]} and {f} overlap from {np.datetime64(s, 'us')} to "
                    f"{np.datetime64(min(e, reach[0]), 'us')}")
        if reach is None or e > reach[0]:
            reach = (e, f)
    return None


def _name(t):
    """The output's file name, and why there is none (a code that cannot be part of one)."""
    codes = _codes(t)
    for k, c in zip(_CODES, codes):
        if c in (".", "..") or any(ch == "/" or ord(ch) < 0x21 or ord(ch) == 0x7F for ch in c):
            return None, f"{k} {c!r} cannot be part of a file name"
    y, d, h, m, s, ms, _ = _kivf.split(t._start())
    return ".".join(codes) + f".{y:04d}.{d:03d}.{h:02d}.{m:02d}.{s:02d}.{ms:03d}.kiv", None
