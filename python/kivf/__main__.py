"""python3 -m kivf info [--list NAME] [--all] FILE...   the header blocks kivhdr prints
python3 -m kivf plot FILE... [-o OUT.png|.svg|.pdf] [--show] [--calib] [--start T] [--end T]
                     [--size WxH]   one panel per channel, contiguous files joined, UTC axis

Exit status: 0 done; 1 bad usage (no samples between --start and --end, a --size too small
for the panels among them, or beyond 65535 pixels a side or 67108864 in all at 80 an inch);
2 some file could not be read (the others were done) or the output could not be written."""
import argparse
import errno
import io
import os
import sys

import numpy as np

from . import _kivf, _one, merge
from ._times import _FIRST, _LAST, _said, _time, _us

_DPI = 80  # pixels an inch in a .png
# matplotlib draws fewer than 2**16 pixels a side; 2**26 pixels are 256 MB of image to draw.
_SIDE, _PIXELS = 2**16 - 1, 2**26


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: {message}\n")

    def print_help(self, file=None):
        try:
            super().print_help(file)
            if sys.stdout is not None:  # else argparse wrote to standard error
                sys.stdout.flush()
        except OSError as err:
            _lost("kivf", err)
            self.exit(1)


def _complain(what, err):
    sys.stdout.flush()
    print(f"kivf {what}: {str(err).replace(chr(10), ' ')}", file=sys.stderr)


def _lost(what, err):
    """Standard output cannot be written: said in one line, and what is still buffered goes to
    /dev/null, so that the flush at exit does not fail again with a traceback."""
    if sys.stdout is not None:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    print(f"{what}: cannot write standard output: {err.strerror or err}", file=sys.stderr)


def info(files, listname="DEFAULT", all_=False):
    status = 0
    listed = False
    try:
        if sys.stdout is None:  # closed when the interpreter started
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        out = sys.stdout.buffer
        for f in files:
            try:
                block = _kivf.listing(os.fsencode(f), listname, all_)
            except (OSError, ValueError) as err:
                _complain("info", err)
                if str(err).startswith("no list named"):
                    return 1
                status = 2
                continue
            if listed:
                out.write(b"\n")
            out.write(block)
            listed = True
        out.flush()
    except OSError as err:  # the files' own failures are handled above: this is the output
        _lost("kivf info", err)
        return 2
    return status


def _label(tr):
    """IDEP's description; counts when IDEP is undefined or says nothing of the unit."""
    idep = tr.header.get("IDEP")
    text = _kivf.describe(idep) if isinstance(idep, str) and idep != "IUNKN" else ""
    return text or "counts"


_CHANNEL = ("KNETWK", "KSTNM", "KHOLE", "KCMPNM")


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


def _panels(traces, start=None, end=None):
    """Contiguous traces joined and cut to [start, end], grouped by channel in the order the
    channels first appear: a list of lists of traces."""
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
    return list(panels.values())


def _extent(text, points):
    """(width, height) of a line of text in points, in the font the plot uses."""
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextToPath
    w, h, _ = TextToPath().get_text_width_height_descent(text, FontProperties(size=points),
                                                         ismath=False)
    return w, h


def figure(traces, calib=False, start=None, end=None, size=None, seconds=False):
    """The plot's figure: one panel per channel (network, station, location, component), its
    contiguous traces joined by kivf.merge and its gaps left as breaks, cut to [start, end]
    (datetime64 or ISO texts), the samples multiplied by SCALE when calib; size (width, height)
    in inches.
    Raises ValueError when no sample lies in the span, the size leaves no room or it is beyond
    65535 pixels a side or 67108864 in all at 80 an inch."""
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt

    _us(start, "start"), _us(end, "end")  # refused before anything is drawn
    panels = _panels(traces, start, end)  # as given: far-out bounds sliced exactly
    utc = None if seconds else [[_utc(t) for t in p] for p in panels]
    if utc and any(u is None for p in utc for u in p):
        utc = None  # absolute times line traces up; without them, seconds
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
        when = _shown(first.starttime) + " UTC" if utc else ""
        title = f"{name}   {when}"
        room = (width - left - right) * 72
        points = min(9.0, 9.0 * room / max(_extent(title, 9)[0], 1))  # never wider than the axes
        ax.set_title(title, loc="left", fontsize=points, pad=title_pad)
        ax.set_ylabel(_label(first), fontsize=8)
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


def plot(files, out=None, show=False, calib=False, start=None, end=None, size=None):
    import matplotlib
    display = os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
    if not (show and display):
        matplotlib.use("Agg")  # files only, no window system needed
    import matplotlib.pyplot as plt
    from matplotlib.backend_bases import FigureCanvasBase

    fmt = None
    if out:
        fmt = os.path.splitext(out)[1][1:].lower() or matplotlib.rcParams["savefig.format"]
        formats = FigureCanvasBase.get_supported_filetypes()
        if fmt not in formats:
            names = ", ".join(sorted(formats))
            _complain("plot", f"{out}: no format named {fmt} (formats: {names})")
            return 1
    traces, status = [], 0
    for f in files:
        try:
            traces.append(_one(f))  # a name as given, never a pattern
        except (OSError, ValueError) as err:
            _complain("plot", err)
            status = 2
    if not traces:
        return 2
    try:
        fig = figure(traces, calib, start, end, size)
    except ValueError as err:
        _complain("plot", err)
        return 1
    try:
        image = _image(fig, fmt) if out else fig.canvas.draw()
    except (ValueError, OverflowError):
        # The axis's margins or ticks fell outside matplotlib's years: seconds, then.
        plt.close(fig)
        fig = figure(traces, calib, start, end, size, seconds=True)
        image = _image(fig, fmt) if out else None
    if out:
        try:
            with open(out, "wb") as f:
                f.write(image)
        except OSError as err:
            _complain("plot", f"{out}: {err.strerror or err}")
            status = 2
    if show:
        if display:
            plt.show()
        else:
            print("kivf plot: no display for --show", file=sys.stderr)
    plt.close(fig)
    return status


def main(argv=None):
    p = _Parser(prog="python3 -m kivf", description="KIV files: header blocks and plots.",
                epilog="Exit status: 0 done; 1 bad usage; 2 a file could not be read or the "
                "output could not be written.")
    sub = p.add_subparsers(dest="command", required=True)
    pi = sub.add_parser("info", help="print the header of each file as kivhdr does")
    pi.add_argument("--list", default="DEFAULT", help="DEFAULT, PICKS, SPECIAL or STD")
    pi.add_argument("--all", action="store_true", help="show undefined fields too")
    pi.add_argument("files", nargs="+", metavar="FILE")
    pp = sub.add_parser("plot", help="plot the files on a shared time axis, one panel per "
                        "channel (station, component), contiguous files joined, gaps as breaks",
                        description="One panel per channel (network, station, location, "
                        "component) on a shared UTC axis (seconds when a start is unknown); a "
                        "channel's files that follow on within half a sample are joined, gaps "
                        "and overlaps left as breaks. The y label is IDEP's description, "
                        "'counts' when IDEP is undefined or IUNKN.")
    pp.add_argument("files", nargs="+", metavar="FILE")
    pp.add_argument("-o", "--output", metavar="OUT", help="write the plot (.png, .svg, .pdf)")
    pp.add_argument("--show", action="store_true", help="show the plot in a window")
    pp.add_argument("--calib", action="store_true",
                    help="multiply the samples by SCALE (where defined)")
    pp.add_argument("--start", type=_when, metavar="TIME",
                    help="leave out samples before this UTC time (ISO, e.g. 2015-03-10T14:22)")
    pp.add_argument("--end", type=_when, metavar="TIME", help="leave out samples after this time")
    pp.add_argument("--size", type=_size, metavar="WxH",
                    help="figure size in inches (e.g. 9x6; 80 pixels an inch in a .png); "
                         "default 9 wide, 1.7 a panel")
    a = p.parse_args(argv)
    if a.command == "info":
        return info(a.files, a.list, a.all)
    if not a.output and not a.show:
        p.error("plot needs -o OUT or --show")
    return plot(a.files, a.output, a.show, a.calib, a.start, a.end, a.size)


def _when(text):
    try:
        us = _us(text, "time")
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an ISO time: {text!r}") from None
    # One datetime64[us] cannot hold stays text, read exactly where it is used.
    return _time(text, "time") if _FIRST <= us <= _LAST else text


def _size(text):
    try:
        w, h = (float(v) for v in text.lower().split("x"))
    except ValueError:
        w = h = 0.0
    if not (0 < w < 1000 and 0 < h < 1000):
        raise argparse.ArgumentTypeError(f"not WxH in inches (e.g. 9x6): {text!r}")
    return w, h


if __name__ == "__main__":
    sys.exit(main())
