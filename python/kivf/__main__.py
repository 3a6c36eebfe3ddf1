# SPDX-License-Identifier: Apache-2.0
"""python3 -m kivf info [--list NAME] [--all] FILE...   the header blocks kivhdr prints
python3 -m kivf plot FILE... [-o OUT.png|.svg|.pdf] [--show] [--calib] [--start T] [--end T]
                     [--size WxH] [--sort name|distance] [--demean] [--filter KIND:HZ]
                     [--normalize] [--separate]
                     one panel per channel, contiguous files joined, UTC axis; a FILE
                     may be miniSEED (its segments plotted, its notes said on stderr)
python3 -m kivf spans [--csv] FILE...        each channel's spans, gaps and overlaps
python3 -m kivf cut --start T --end T -o DIR [--merge] [-k] FILE...   windows as KIV files
python3 -m kivf merge -o DIR [-k] FILE...    one KIV file a channel span
(the kivf command installed to bin/ runs the same with the interpreter it was built for)

Exit status: 0 done; 1 bad usage (no samples between --start and --end, a --size too small
for the panels among them, or beyond 65535 pixels a side or 67108864 in all at 80 an inch);
2 some file could not be read (the others were done) or the output could not be written."""
import argparse
import errno
import os
import sys

from . import _kivf, _looks
from ._marks import mark
from ._plot import _image, figure
from ._process import parse_filter
from ._times import _FIRST, _LAST, _time, _us

# Commands kept in modules of their own: each has add_parser(sub), which adds its parser to the
# subparsers and sets its defaults' run to a function of the parsed arguments giving the exit
# status.
from . import _cli_spans, _cutmerge
_COMMANDS = (_cutmerge, _cli_spans)


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


def _gather(what, files, opened):
    """What opened(file) gives for each file, as a name and never a pattern ((items, notes)),
    in one list; a file that cannot be read and each note said in a line: (items, status)."""
    items, status = [], 0
    for f in files:
        try:
            got, notes = opened(f)
        except (OSError, ValueError) as err:
            _complain(what, err)
            status = 2
            continue
        for note in notes:
            _complain(what, note)
        items.extend(got)
    return items, status


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


def plot(files, out=None, show=False, calib=False, start=None, end=None, size=None, sort=None,
         **looks):
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
    traces, status = _gather("plot", files, _looks.sources)
    if not traces:
        return 2
    try:
        fig = figure(traces, calib, start, end, size, sort=sort, **looks)
    except (ValueError, ImportError) as err:
        _complain("plot", err)
        return 1
    try:
        image = _image(fig, fmt) if out else fig.canvas.draw()
    except (ValueError, OverflowError):
        # The axis's margins or ticks fell outside matplotlib's years: seconds, then.
        plt.close(fig)
        fig = figure(traces, calib, start, end, size, seconds=True, sort=sort, **looks)
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


def main(argv=None, prog="python3 -m kivf"):
    """The command line; prog names it in usage and help (the kivf command gives "kivf")."""
    p = _Parser(prog=prog, description="KIV and miniSEED files: header blocks, plots, spans, "
                "cuts and merges.",
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
                        "'counts' when IDEP is undefined or IUNKN ('counts × calib' with "
                        "--calib); a panel's title shows the distance when the header has one "
                        "(GCARC in degrees, else DIST in km), then --start when given, else its "
                        "first sample's time. Panels come by station name (or --sort distance), "
                        "Z, N/1, E/2 within a station; the header's origin and picks (O, A, "
                        "T0-T9 with their KA, KT0-KT9 labels) are drawn where they fall. Long "
                        "records are read in pieces and drawn as the least and greatest sample "
                        "of each pixel column, so every peak stays visible.")
    pp.add_argument("files", nargs="+", metavar="FILE", help="KIV or miniSEED files")
    pp.add_argument("-o", "--output", metavar="OUT", help="write the plot (.png, .svg, .pdf)")
    pp.add_argument("--show", action="store_true", help="show the plot in a window")
    pp.add_argument("--calib", action="store_true",
                    help="multiply the samples by SCALE (where defined)")
    pp.add_argument("--start", type=_when, metavar="TIME",
                    help="leave out samples before this UTC time (ISO, e.g. 2015-03-10T14:22), "
                         "or before a header mark and seconds from it (O-30, A, T1+2.5), taken "
                         "from each file's own header")
    pp.add_argument("--end", type=_when, metavar="TIME",
                    help="leave out samples after this time (as --start: A+120)")
    pp.add_argument("--size", type=_size, metavar="WxH",
                    help="figure size in inches (e.g. 9x6; 80 pixels an inch in a .png); "
                         "default 9 wide, 1.7 a panel")
    pp.add_argument("--sort", choices=["name", "distance"],
                    help="order the stations by name (the default) or nearest first by GCARC "
                         "(those without it last)")
    pp.add_argument("--demean", action="store_true", help="remove each run's mean")
    pp.add_argument("--filter", metavar="KIND:HZ",
                    help="remove the mean, then filter each run (Butterworth, 4 poles, causal): "
                         "bandpass:LO:HI, lowpass:F or highpass:F (needs scipy)")
    pp.add_argument("--normalize", action="store_true",
                    help="scale each panel to a greatest |sample| of 1")
    pp.add_argument("--separate", action="store_true",
                    help="give spans far apart in time panels and a time axis of their own")
    for module in _COMMANDS:
        module.add_parser(sub)
    a = p.parse_args(argv)
    if hasattr(a, "run"):  # a command of its own module
        return a.run(a)
    if a.command == "info":
        return info(a.files, a.list, a.all)
    if not a.output and not a.show:
        p.error("plot needs -o OUT or --show")
    if a.filter is not None:
        try:
            parse_filter(a.filter)
        except ValueError as err:
            p.error(f"argument --filter: {err}")
    return plot(a.files, a.output, a.show, a.calib, a.start, a.end, a.size, a.sort,
                demean=a.demean, filter=a.filter, normalize=a.normalize, separate=a.separate)


def _when(text):
    if mark(text) is not None:
        return text  # read against each file's header
    try:
        us = _us(text, "time")
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an ISO time or a mark (O, A, T0-T9) and "
                                         f"seconds: {text!r}") from None
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
