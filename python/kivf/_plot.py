# SPDX-License-Identifier: Apache-2.0
"""The plot command's figure: one panel per channel on a shared time axis (or one for each
span far apart in time), long runs drawn as the least and greatest sample of each pixel column
(_looks), and its image in memory."""
import io

import numpy as np

from . import _kivf, _looks
from ._process import design, parse_filter
from ._times import _FIRST, _LAST, _said, _time, _us
from ._marks import bound, mark, picks

_DPI = 80  # pixels an inch in a .png
# matplotlib draws fewer than 2**16 pixels a side; 2**26 pixels are 256 MB of image to draw.
_SIDE, _PIXELS = 2**16 - 1, 2**26


def _label(tr, calib=False):
    """What the samples are: IDEP's description when it says (IUNKN says nothing), else
    counts, or "counts × calib" once multiplied by SCALE."""
    idep = tr.header.get("IDEP")
    text = _kivf.describe(idep) if isinstance(idep, str) and idep != "IUNKN" else ""
    scaled = calib and tr.header.get("SCALE") is not None
    return text or ("counts × calib" if scaled else "counts")


_CHANNEL = ("KNETWK", "KSTNM", "KHOLE", "KCMPNM")
_SORTS = (None, "name", "distance")


def _gcarc(tr):
    """GCARC as a Python float, or None when it is undefined or not a number."""
    d = tr.distance
    return d.degrees if d is not None and np.isfinite(d.degrees) else None


def _far(tr):
    """How far the station is, shortly: GCARC in degrees, else DIST in km; "" when neither."""
    g, km = _gcarc(tr), tr.header.get("DIST")
    if g is not None:
        return f"{g:.1f}°" if abs(g) >= 1 else f"{g:.2g}°"  # 0.05°, not 0.1°
    if km is not None and np.isfinite(km):
        return f"{float(km):.0f} km" if abs(km) >= 10 else f"{float(km):.2g} km"
    return ""


def _shown(start):
    """A start time to the millisecond, or to the microsecond when it has one."""
    whole_ms = start.astype(np.int64) % 1000 == 0
    return np.datetime_as_string(start, unit="ms" if whole_ms else "us").replace("T", " ")


_SPLIT = 60 * 10**6  # us: spans closer than this are never far apart


class _Shown:
    """What a panel draws of one run: samples i0 .. i1-1 of an even run, or a trace that joins
    nothing (uneven or without times) as it is, cut to the span."""

    def __init__(self, run, i0=0, i1=0, trace=None):
        self.run, self.i0, self.i1 = run, i0, i1
        self.trace = trace if trace is not None else run.trace
        self.even = trace is None
        self.count = i1 - i0 if self.even else len(self.trace.data)
        self._span = self._times()

    def span(self):
        """(first, last) sample times in us, or None without times."""
        return self._span

    def _times(self):
        if self.even:
            return (self.run.start + self.run.offset(self.i0),
                    self.run.start + self.run.offset(self.i1 - 1))
        t = self.trace.utc_times()
        t = t[~np.isnat(t)]
        return (int(t.min().astype(np.int64)), int(t.max().astype(np.int64))) if t.size else None

    def headers(self):
        return [p.trace.header for p in self.run.pieces] if self.even else [self.trace.header]


def _cut(runs, start, end):
    """The runs' samples between start and end as _Shown; ValueError when none is left."""
    out = []
    bounded = start is not None or end is not None
    for run in runs:
        h = run.trace.header
        if not run.even:
            t = run.pieces[0].whole()
            if bounded:
                if t._timeless():
                    continue
                lo, hi = (None if v is None else
                          np.datetime64(min(max(bound(v, w, h, _name(h)), _FIRST), _LAST), "us")
                          for v, w in ((start, "start"), (end, "end")))
                t = t.slice(lo, hi)
            if len(t.data):
                out.append(_Shown(run, trace=t))
            continue
        lo = None if start is None else bound(start, "start", h, _name(h))
        hi = None if end is None else bound(end, "end", h, _name(h))
        i0, i1 = run.window(lo, hi)
        if i1 > i0:
            out.append(_Shown(run, i0, i1))
    if not out:
        said = [f"the {w}" if v is None else v if mark(v) else _said(v, w)
                for v, w in ((start, "start"), (end, "end"))]
        raise ValueError(f"no samples between {said[0]} and {said[1]}")
    return out


def _name(h):
    return " ".join(h[c] for c in _CHANNEL if h.get(c)) or "a trace without codes"


def _clusters(shown):
    """For each shown run, the number of its group of spans in time: a gap longer than ten
    times the time the data cover (and than a minute) starts a new group."""
    spans = [(s.span(), k) for k, s in enumerate(shown)]
    timed = sorted((sp, k) for sp, k in spans if sp is not None)
    union, covered = [], 0
    for (a, b), _ in timed:
        if union and a <= union[-1][1]:
            union[-1][1] = max(union[-1][1], b)
        else:
            union.append([a, b])
    covered = sum(b - a for a, b in union)
    group, last, out = 0, None, [0] * len(shown)
    for (a, b), k in timed:
        if last is not None and a - last > max(10 * covered, _SPLIT):
            group += 1
        last = b if last is None else max(last, b)
        out[k] = group
    return out


def _rank(component):
    """Z, then N or 1, then E or 2, then any other, by the component's last letter."""
    return {"Z": 0, "N": 1, "1": 1, "E": 2, "2": 2}.get((component or "")[-1:].upper(), 3)


def _panels(shown, sort=None, separate=False):
    """The shown runs grouped in panels by channel (and by group of spans in time when
    separate), ordered by station (by name, or nearest first by GCARC when sort is
    "distance", those without last) and within a station Z, N/1, E/2, then the rest."""
    groups = _clusters(shown)
    panels = {}
    for s, g in zip(shown, groups):
        h = s.trace.header
        panels.setdefault((g if separate else 0, tuple(h.get(c) for c in _CHANNEL)), []).append(s)

    def order(item):
        (g, (net, sta, loc, cmp)), pieces = item
        far = _gcarc(pieces[0].trace) if sort == "distance" else None
        near = (far is None, far or 0.0) if sort == "distance" else ()
        return (g, *near, sta or "", net or "", loc or "", _rank(cmp), cmp or "")
    return [p for _, p in sorted(panels.items(), key=order)], max(groups, default=0) + 1


def _placeable(span):
    """Whether matplotlib can place these times: it takes years 1 to 9999."""
    lo, hi = np.datetime64("0001-01-01", "us"), np.datetime64("10000-01-01", "us")
    return span is not None and all(_FIRST <= t <= _LAST and lo <= np.datetime64(t, "us") < hi
                                    for t in span)


def _lines(s, scale, demean, sos_of, low, columns, view, dense, utc, origin):
    """The x and y arrays a shown run draws: every sample, or when not dense the least and
    greatest of each pixel column's samples (columns across view us). A filter, whose lowest
    corner is low Hz, starts ten of that corner's periods early (as the run allows) on samples
    tapered in over two (see _looks.values)."""
    if not s.even:
        t = s.trace
        y = t.data.astype(np.float64) * scale if scale is not None else t.data
        if demean and len(y):
            y = y - np.nanmean(y)
        if utc:
            return t.utc_times(), y
        if origin is not None and t._start() is not None:
            return (t._start() - origin) / 1e6 + t.times(), y
        return t.times(), y
    run, sos = s.run, sos_of(s.run)
    first, last = s.span()
    bins = max(1, int(columns * (last - first) / view)) if view > 0 else 1
    period = 0 if sos is None else run.trace.sampling_rate / low  # samples
    pieces = _looks.values(run, s.i0, s.i1, scale, demean, sos, int(np.ceil(10 * period)),
                           int(np.ceil(2 * period)))
    base = origin if origin is not None else run.start  # of times in seconds
    if dense or s.count <= 2 * bins:
        y = np.concatenate(list(pieces))
        if utc:
            return run.times(s.i0, s.count), y
        return (run.start - base + _kivf.offsets(run.trace.delta, s.i0, s.count)) / 1e6, y
    edges, least, most = _looks.envelope(pieces, s.count, bins)
    at = np.array([run.start + run.offset(s.i0 + int(e)) for e in edges], dtype=np.int64)
    x = at.astype("datetime64[us]") if utc else (at - base) / 1e6
    return np.repeat(x, 2), np.column_stack([least, most]).ravel()


def _extent(text, points):
    """(width, height) of a line of text in points, in the font the plot uses."""
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextToPath
    w, h, _ = TextToPath().get_text_width_height_descent(text, FontProperties(size=points),
                                                         ismath=False)
    return w, h


def figure(traces, calib=False, start=None, end=None, size=None, seconds=False, sort=None,
           demean=False, filter=None, normalize=False, separate=False):
    """The plot's figure: one panel per channel (network, station, location, component), its
    contiguous traces joined (kivf.merge's rule) and its gaps left as breaks, cut to [start,
    end], the samples multiplied by SCALE when calib; size (width, height) in inches.

    traces are Traces, or _looks.Sources (files read in pieces as they are drawn). start and
    end are datetime64, datetime or ISO texts, or a header's origin or pick and seconds from it
    ("O-30", "A+120", "T1"), taken from each run's own header. demean removes each run's mean;
    filter ("bandpass:1:10", "lowpass:F", "highpass:F", Hz) removes it and filters each run
    (Butterworth, 4 poles, causal), from ten periods of the lowest corner before what is shown
    (as far as the run goes back) on samples tapered in over two; normalize scales each panel to a greatest |sample| of 1.
    Panels are ordered by station name, or nearest first by GCARC when sort is "distance" (those
    without GCARC last), and within a station Z, N/1, E/2, then the rest. separate gives each
    group of spans far apart in time panels and an axis of their own; without it, a note in
    the figure says that they are far apart. A panel over more than _looks.DENSE samples
    draws its long runs as the least and greatest sample of each pixel column. The header's
    origin and picks (O, A, T0-T9, labelled by KA, KT0-KT9) are drawn on their panels. A title
    shows the channel, its distance when the header has one (GCARC in degrees, else DIST in
    km) and the start.
    Raises ValueError when no sample lies in the span, a mark a bound names is missing, the
    size leaves no room or it is beyond 65535 pixels a side or 67108864 in all at 80 an inch,
    for another sort or a filter it cannot make; ImportError for a filter without scipy."""
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt
    import matplotlib.transforms as mtransforms

    if sort not in _SORTS:
        raise ValueError(f"no sort named {sort!r} (sorts: name, distance)")
    for v, w in ((start, "start"), (end, "end")):
        if mark(v) is None:
            _us(v, w)  # refused before anything is drawn
    made = parse_filter(filter) if filter is not None else None
    sos = {}

    def sos_of(run):
        if made is None:
            return None
        rate = run.trace.sampling_rate
        if rate not in sos:
            sos[rate] = design(*made, 4, rate)
        return sos[rate]

    items = [t if isinstance(t, _looks.Source) else _looks.Source(t) for t in traces]
    shown = _cut(_looks.runs(items), start, end)
    panels, groups = _panels(shown, sort, separate)
    if made is not None:
        for s in shown:
            if s.even:
                sos_of(s.run)  # every filter made (or refused) before anything is drawn
    utc = not seconds and all(_placeable(s.span()) for s in shown)
    # A window's title shows its start as given, not its first sample's time.
    shown_start = (_time(start, "start") if start is not None and mark(start) is None and
                   _FIRST <= _us(start, "start") <= _LAST else None)
    n = len(panels)
    shared = not separate or groups == 1
    # Fixed margins in inches lay out faster than a solver. Each panel has a band above it:
    # the y axis's offset text (1e9) just above the axes, the title above that.
    pt = 1 / 72
    offset_h, title_h = _extent("1e9+", 8)[1] * 1.25, _extent("ANMO 2015", 9)[1] * 1.25
    title_pad = 3 + offset_h + 3  # points above the axes: the offset text's own pad, then it
    ticks = 0 if shared else 2 * 8 * 1.45 * pt  # each axis's own tick labels and date
    band = (title_pad + title_h + 8) * pt + ticks  # and a gap below the panel above
    bottom = 3 * 8 * 1.45 * pt + 0.05  # tick labels, the date below them, the axis label
    width, height = size or (9, 0.6 + (1.7 + ticks) * n)
    pixels = int(width * _DPI), int(height * _DPI)  # as matplotlib counts them
    if max(pixels) > _SIDE or pixels[0] * pixels[1] > _PIXELS:
        raise ValueError(f"a {width:g}x{height:g} inch plot is {pixels[0]}x{pixels[1]} pixels at "
                         f"{_DPI} an inch: at most {_SIDE} a side and {_PIXELS} in all")
    left, right = min(0.9, 0.3 * width), 0.18
    axes_h = (height - 0.08 - bottom - n * band) / n
    if axes_h < 0.25 or width - left - right < 0.5:
        raise ValueError(f"a {width:g}x{height:g} inch plot leaves no room for {n} panel"
                         f"{'s' if n > 1 else ''}")
    fig, axes = plt.subplots(n, 1, sharex=shared, squeeze=False, figsize=(width, height))
    fig.subplots_adjust(left=left / width, right=1 - right / width, bottom=bottom / height,
                        top=1 - (0.08 + band - ticks) / height, hspace=band / axes_h)
    columns = int((width - left - right) * _DPI)
    spans = [s.span() for s in shown]
    every = [t for sp in spans if sp is not None for t in sp]
    whole = (min(every), max(every)) if every else (0, 0)
    for ax, pieces in zip(axes[:, 0], panels):
        first = pieces[0]
        own = [t for s in pieces if (sp := s.span()) is not None for t in sp]
        lo, hi = whole if shared or not own else (min(own), max(own))
        origin = first.span()[0] if first.even else first.trace._start()
        dense = sum(s.count for s in pieces) <= _looks.DENSE
        drawn = []
        for s in pieces:  # each run a line of its own: gaps stay open
            scale = s.trace.header.get("SCALE") if calib else None
            drawn.append(_lines(s, None if scale is None else float(scale), demean or
                                made is not None, sos_of, made and min(made[1]), columns,
                                hi - lo, dense, utc, origin))
        top = max((np.nanmax(np.abs(y)) for _, y in drawn if len(y) and
                   not np.isnan(y).all()), default=0.0) if normalize else 0.0
        for x, y in drawn:
            ax.plot(x, y / top if top > 0 and np.isfinite(top) else y, linewidth=0.6,
                    color="black")
        marks = {}
        for h in (h for s in pieces for h in s.headers()):
            for at, said in picks(h):
                if lo <= at <= hi:
                    marks[(at, said)] = None
        above = mtransforms.blended_transform_factory(ax.transData, ax.transAxes)
        for at, said in marks:
            x = np.datetime64(at, "us") if utc else (at - (origin or 0)) / 1e6
            ax.axvline(x, color="tab:red", linewidth=0.8, linestyle="--")
            ax.text(x, 0.97, f" {said}", transform=above, color="tab:red", fontsize=7,
                    va="top", ha="left", zorder=3)
        h = first.trace.header
        when = ""
        if utc:
            begins = np.datetime64(origin, "us") if first.even else first.trace.starttime
            when = _shown(shown_start or begins) + " UTC"
        far = _far(first.trace)
        name = " ".join(h[c] for c in _CHANNEL if h.get(c))
        title = f"{name}   {far + '   ' if far else ''}{when}"
        room = (width - left - right) * 72
        points = min(9.0, 9.0 * room / max(_extent(title, 9)[0], 1))  # never wider than the axes
        ax.set_title(title, loc="left", fontsize=points, pad=title_pad)
        ax.set_ylabel("normalized" if normalize else _label(first.trace, calib), fontsize=8)
        ax.tick_params(labelsize=8)
        ax.yaxis.get_offset_text().set_fontsize(8)
    for ax in (axes[:, 0] if not shared else axes[-1:, 0]):
        if utc:
            locator = mdates.AutoDateLocator()
            ax.xaxis.set_major_locator(locator)
            ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
            ax.xaxis.get_offset_text().set_fontsize(8)
        ax.tick_params(labelbottom=True)
    bottom_ax = axes[-1, 0]
    if utc:
        # A bound datetime64[us] cannot hold leaves that side to the samples, which lie inside it.
        bounds = [None if t is None or mark(t) is not None or not _FIRST <= _us(t, "") <= _LAST
                  else _time(t, "") for t in (start, end)]
        if shared and bounds[0] is not None:
            bottom_ax.set_xlim(left=bounds[0])
        if shared and bounds[1] is not None:
            bottom_ax.set_xlim(right=bounds[1])
        bottom_ax.set_xlabel("UTC", fontsize=8)
    else:
        bottom_ax.set_xlabel("seconds from the start", fontsize=8)
    if groups > 1 and not separate:
        fig.text(1 - 0.05 / width, 0.05 / height, "spans far apart in time (--separate gives "
                 "each its own axis)", ha="right", va="bottom", fontsize=7)
    return fig


def _image(fig, fmt):
    # Made in memory: matplotlib loses errors of closing a file it opened (a full disk).
    buf = io.BytesIO()
    fig.savefig(buf, format=fmt, dpi=_DPI)
    return buf.getvalue()
