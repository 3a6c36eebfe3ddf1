"""The plot command's figure: one panel per channel on a shared time axis, and its image
in memory."""
import io

import numpy as np

from . import _kivf, merge
from ._times import _FIRST, _LAST, _said, _time, _us

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
_SORTS = (None, "distance")


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


def _utc(tr):
    """The sample times as datetime64[us], or None when matplotlib could not place them: it
    takes years 1 to 9999."""
    t, start = tr.utc_times(), tr.starttime
    shown = t[~np.isnat(t)]  # NaN times of uneven files are left out of the plot
    if np.isnat(start) or (tr.x is None and shown.size < t.size):  # beyond datetime64
        return None
    lo, hi = np.datetime64("0001-01-01"), np.datetime64("10000")
    if not lo <= start < hi or (shown.size and not lo <= shown.min() <= shown.max() < hi):
        return None
    return t


def _shown(start):
    """A start time to the millisecond, or to the microsecond when it has one."""
    whole_ms = start.astype(np.int64) % 1000 == 0
    return np.datetime_as_string(start, unit="ms" if whole_ms else "us").replace("T", " ")


def _panels(traces, start=None, end=None, sort=None):
    """Contiguous traces joined and cut to [start, end], grouped by channel in the order the
    channels first appear, or by the first trace's GCARC (those without last, in that order)
    when sort is "distance": a list of lists of traces."""
    pieces = merge(traces)
    if start is not None or end is not None:
        pieces = [t.slice(start, end) for t in pieces if not t._timeless()]
        pieces = [t for t in pieces if len(t.data)]
        if not pieces:
            raise ValueError("no samples between "
                             f"{'the start' if start is None else _said(start, 'start')} and "
                             f"{'the end' if end is None else _said(end, 'end')}")
    panels = {}
    for t in pieces:
        panels.setdefault(tuple(t.header.get(k) for k in _CHANNEL), []).append(t)
    panels = list(panels.values())
    if sort == "distance":  # a stable sort: ties and those without keep their order
        panels.sort(key=lambda p: (_gcarc(p[0]) is None, _gcarc(p[0]) or 0.0))
    return panels


def _extent(text, points):
    """(width, height) of a line of text in points, in the font the plot uses."""
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextToPath
    w, h, _ = TextToPath().get_text_width_height_descent(text, FontProperties(size=points),
                                                         ismath=False)
    return w, h


def figure(traces, calib=False, start=None, end=None, size=None, seconds=False, sort=None):
    """The plot's figure: one panel per channel (network, station, location, component), its
    contiguous traces joined by kivf.merge and its gaps left as breaks, cut to [start, end]
    (datetime64 or ISO texts), the samples multiplied by SCALE when calib; size (width, height)
    in inches. The panels come in the order their channels first appear, or nearest first by
    GCARC when sort is "distance" (those without GCARC last, in that order). A title shows the
    channel, its distance when the header has one (GCARC in degrees, else DIST in km) and the
    start.
    Raises ValueError when no sample lies in the span, the size leaves no room or it is beyond
    65535 pixels a side or 67108864 in all at 80 an inch, or for another sort."""
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt

    if sort not in _SORTS:
        raise ValueError(f"no sort named {sort!r} (sorts: distance)")
    _us(start, "start"), _us(end, "end")  # refused before anything is drawn
    panels = _panels(traces, start, end, sort)  # as given: far-out bounds sliced exactly
    utc = None if seconds else [[_utc(t) for t in p] for p in panels]
    if utc and any(u is None for p in utc for u in p):
        utc = None  # absolute times line traces up; without them, seconds
    # A window's title shows its start as given, not its first sample's time.
    shown_start = (_time(start, "start") if start is not None and _FIRST <= _us(start, "start")
                   <= _LAST else None)
    n = len(panels)
    # Fixed margins in inches lay out faster than a solver. Each panel has a band above it:
    # the y axis's offset text (1e9) just above the axes, the title above that.
    pt = 1 / 72
    offset_h, title_h = _extent("1e9+", 8)[1] * 1.25, _extent("ANMO 2015", 9)[1] * 1.25
    title_pad = 3 + offset_h + 3  # points above the axes: the offset text's own pad, then it
    band = (title_pad + title_h + 8) * pt  # and a gap below the panel above
    bottom = 3 * 8 * 1.45 * pt + 0.05  # tick labels, the date below them, the axis label
    width, height = size or (9, 0.6 + 1.7 * n)
    pixels = int(width * _DPI), int(height * _DPI)  # as matplotlib counts them
    if max(pixels) > _SIDE or pixels[0] * pixels[1] > _PIXELS:
        raise ValueError(f"a {width:g}x{height:g} inch plot is {pixels[0]}x{pixels[1]} pixels at "
                         f"{_DPI} an inch: at most {_SIDE} a side and {_PIXELS} in all")
    left, right = min(0.9, 0.3 * width), 0.18
    axes_h = (height - 0.08 - bottom - n * band) / n
    if axes_h < 0.25 or width - left - right < 0.5:
        raise ValueError(f"a {width:g}x{height:g} inch plot leaves no room for {n} panel"
                         f"{'s' if n > 1 else ''}")
    fig, axes = plt.subplots(n, 1, sharex=True, squeeze=False, figsize=(width, height))
    fig.subplots_adjust(left=left / width, right=1 - right / width, bottom=bottom / height,
                        top=1 - (0.08 + band) / height, hspace=band / axes_h)
    for k, (ax, pieces) in enumerate(zip(axes[:, 0], panels)):
        first = pieces[0]
        for j, t in enumerate(pieces):  # each piece a line of its own: gaps stay open
            y = t.data
            scale = t.header.get("SCALE")
            if calib and scale is not None:
                y = y.astype(np.float64) * float(scale)
            if utc:
                x = utc[k][j]
            elif first._start() is not None and t._start() is not None:
                x = (t._start() - first._start()) / 1e6 + t.times()
            else:
                x = t.times()
            ax.plot(x, y, linewidth=0.6, color="black")
        h = first.header
        name = " ".join(h[c] for c in _CHANNEL if h.get(c))
        when = _shown(shown_start or first.starttime) + " UTC" if utc else ""
        far = _far(first)
        title = f"{name}   {far + '   ' if far else ''}{when}"
        room = (width - left - right) * 72
        points = min(9.0, 9.0 * room / max(_extent(title, 9)[0], 1))  # never wider than the axes
        ax.set_title(title, loc="left", fontsize=points, pad=title_pad)
        ax.set_ylabel(_label(first, calib), fontsize=8)
        ax.tick_params(labelsize=8)
        ax.yaxis.get_offset_text().set_fontsize(8)
    bottom_ax = axes[-1, 0]
    if utc:
        locator = mdates.AutoDateLocator()
        bottom_ax.xaxis.set_major_locator(locator)
        bottom_ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        bottom_ax.xaxis.get_offset_text().set_fontsize(8)
        # A bound datetime64[us] cannot hold leaves that side to the samples, which lie inside it.
        lo, hi = (None if t is None or not _FIRST <= _us(t, "") <= _LAST else _time(t, "")
                  for t in (start, end))
        if lo is not None:
            bottom_ax.set_xlim(left=lo)
        if hi is not None:
            bottom_ax.set_xlim(right=hi)
        bottom_ax.set_xlabel("UTC", fontsize=8)
    else:
        bottom_ax.set_xlabel("seconds from the start", fontsize=8)
    return fig


def _image(fig, fmt):
    # Made in memory: matplotlib loses errors of closing a file it opened (a full disk).
    buf = io.BytesIO()
    fig.savefig(buf, format=fmt, dpi=_DPI)
    return buf.getvalue()
