"""python3 -m kivf info [--list NAME] [--all] FILE...   the header blocks kivhdr prints
python3 -m kivf plot FILE... [-o OUT.png|.svg|.pdf] [--show]   one panel per file, UTC axis

Exit status: 0 done; 1 bad usage; 2 some file could not be read (the others were done) or
the output could not be written."""
import argparse
import errno
import io
import os
import sys

import numpy as np

from . import _kivf, read


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
    idep = tr.header.get("IDEP")
    return _kivf.describe(idep) if isinstance(idep, str) else ""


def _utc(tr):
    """The sample times as datetime64[us], or None when matplotlib could not place them: it
    takes years 1 to 9999, and numpy would wrap round beyond them unnoticed."""
    start, t = tr.starttime, tr.times()
    if np.isnat(start) or not np.datetime64("0001-01-01") <= start < np.datetime64("10000"):
        return None
    if np.any(np.abs(t[np.isfinite(t)]) > 3.2e11):  # ten thousand years
        return None
    with np.errstate(invalid="ignore"):  # NaN times become NaT, left out of the plot
        return start + np.round(t * 1e6).astype("timedelta64[us]")


def _shown(start):
    """A start time to the millisecond, or to the microsecond when it has one."""
    whole_ms = start.astype(np.int64) % 1000 == 0
    return np.datetime_as_string(start, unit="ms" if whole_ms else "us").replace("T", " ")


def _figure(traces, utc):
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt

    height = 0.6 + 1.7 * len(traces)  # inches; fixed margins lay out faster than a solver
    fig, axes = plt.subplots(len(traces), 1, sharex=True, squeeze=False, figsize=(9, height))
    fig.subplots_adjust(left=0.1, right=0.98, bottom=0.45 / height, top=1 - 0.3 / height,
                        hspace=0.4)
    for k, (ax, tr) in enumerate(zip(axes[:, 0], traces)):
        ax.plot(utc[k] if utc else tr.times(), tr.data, linewidth=0.6, color="black")
        h = tr.header
        start = (_shown(tr.starttime) + " UTC" if utc else "")
        ax.set_title(f"{h.get('KSTNM', '')} {h.get('KCMPNM', '')}   {start}",
                     loc="left", fontsize=9)
        ax.set_ylabel(_label(tr), fontsize=8)
        ax.tick_params(labelsize=8)
    bottom = axes[-1, 0]
    if utc:
        locator = mdates.AutoDateLocator()
        bottom.xaxis.set_major_locator(locator)
        bottom.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        bottom.set_xlabel("UTC", fontsize=8)
    else:
        bottom.set_xlabel("seconds from the start", fontsize=8)
    return fig


def _image(fig, fmt):
    # Made in memory: matplotlib loses errors of closing a file it opened (a full disk).
    buf = io.BytesIO()
    fig.savefig(buf, format=fmt, dpi=80)
    return buf.getvalue()


def plot(files, out=None, show=False):
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
            traces.append(read(f))
        except (OSError, ValueError) as err:
            _complain("plot", err)
            status = 2
    if not traces:
        return 2
    # Absolute times line traces of one event up; without a reference time, seconds.
    utc = [_utc(t) for t in traces]
    utc = utc if all(u is not None for u in utc) else None
    fig = _figure(traces, utc)
    try:
        image = _image(fig, fmt) if out else fig.canvas.draw()
    except (ValueError, OverflowError):
        if not utc:
            raise
        # The axis's margins or ticks fell outside matplotlib's years: seconds, then.
        plt.close(fig)
        fig = _figure(traces, None)
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
    p = _Parser(prog="python3 -m kivf", description="KIV files: header blocks and plots.")
    sub = p.add_subparsers(dest="command", required=True)
    pi = sub.add_parser("info", help="print the header of each file as kivhdr does")
    pi.add_argument("--list", default="DEFAULT", help="DEFAULT, PICKS, SPECIAL or STD")
    pi.add_argument("--all", action="store_true", help="show undefined fields too")
    pi.add_argument("files", nargs="+", metavar="FILE")
    pp = sub.add_parser("plot", help="plot the files, one panel each, on a shared time axis")
    pp.add_argument("files", nargs="+", metavar="FILE")
    pp.add_argument("-o", "--output", metavar="OUT", help="write the plot (.png, .svg, .pdf)")
    pp.add_argument("--show", action="store_true", help="show the plot in a window")
    a = p.parse_args(argv)
    if a.command == "info":
        return info(a.files, a.list, a.all)
    if not a.output and not a.show:
        p.error("plot needs -o OUT or --show")
    return plot(a.files, a.output, a.show)


if __name__ == "__main__":
    sys.exit(main())
