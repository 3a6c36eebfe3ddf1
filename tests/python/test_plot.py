# SPDX-License-Identifier: Apache-2.0
"""python3 -m kivf plot: panels per channel, joined files, labels, calibration, span, size."""
import warnings

import matplotlib.dates as mdates
import numpy as np
import pytest
from matplotlib.text import Text

import kivf
from kivf import __main__ as cli

DAY = dict(nzyear=2020, nzjday=5, nzmin=0, nzsec=0, nzmsec=0, b=0.0, delta=1.0)


def hourly(tmp_path, hours, sta="ANMO", cmp="BHZ", y=lambda h: np.sin(np.arange(3600) / 50 + h),
           **f):
    for h in hours:
        kivf.write(tmp_path / f"{sta}.{cmp}.{h:02d}.kiv", y(h), nzhour=h, kstnm=sta, kcmpnm=cmp,
                   **DAY, **f)
    return [kivf.read(tmp_path / f"{sta}.{cmp}.{h:02d}.kiv") for h in hours]


@pytest.mark.parametrize("channels, lines", [
    ({("ANMO", "BHZ"): range(24)}, [1]),
    ({("ANMO", "BHZ"): range(24), ("ANMO", "BHN"): [3]}, [1, 1]),
    ({("ANMO", "BHZ"): [0, 1, 3, 4], ("HRV", "BHZ"): [1, 2]}, [2, 1])])  # an hour missing: a break
def test_one_panel_per_channel_files_joined(tmp_path, channels, lines):
    traces = [t for (s, c), hours in channels.items() for t in hourly(tmp_path, hours, s, c)]
    fig = cli.figure(traces)
    assert len(fig.axes) == len(lines) and [len(ax.lines) for ax in fig.axes] == lines
    title = " ".join(next(iter(channels))) + "   2020-01-05 0"
    assert fig.axes[0].get_title(loc="left").startswith(title)


@pytest.mark.parametrize("fields, calib, label, factor", [
    (dict(idep="IVEL", scale=2.0), False, "VELOCITY (NM/SEC)", 1),
    (dict(idep="IDISP", scale=2.0), True, "DISPLACEMENT (NM)", 2),
    (dict(scale=2.0), True, "counts × calib", 2), (dict(idep="IUNKN"), True, "counts", 1),
    (dict(idep="IUNKN", scale=0.5), True, "counts × calib", 0.5),
    (dict(idep="IACC", scale=2.0), True, "ACCELERATION (CM/SEC/SEC)", 2),
    (dict(idep=52), False, "counts", 1)])
def test_label_and_calibration(tmp_path, fields, calib, label, factor):
    t = hourly(tmp_path, [0], **fields)[0]
    ax = cli.figure([t], calib=calib).axes[0]
    assert ax.get_ylabel() == label and np.array_equal(ax.lines[0].get_ydata(), t.data * factor)


@pytest.mark.parametrize("args, status, err, pixels", [
    ("", 0, "", (720, 320)),  # 9 inches wide, 0.6 + 1.7 a panel
    ("--size 9x6", 0, "", (720, 480)),
    ("--size 4x2.5 --start 2020-01-05T00:30 --end 2020-01-05T01:30", 0, "", (320, 200)),
    ("--start 2021-01-01", 1, "no samples between 2021-01-01T00:00:00.000000 and the end\n", 0),
    ("--size 9x1", 1, "kivf plot: a 9x1 inch plot leaves no room for 2 panels\n", 0),
    ("--start yesterday", 1, "argument --start: not an ISO time or a mark (O, A, T0-T9) and "
     "seconds: 'yesterday'\n", 0),
    ("--size 9", 1, "argument --size: not WxH in inches (e.g. 9x6): '9'\n", 0)])
def test_cli_span_and_size(tmp_path, capfd, args, status, err, pixels):
    hourly(tmp_path, [0, 1]), hourly(tmp_path, [0], cmp="BHN")
    files = sorted(str(p) for p in tmp_path.glob("*.kiv"))
    try:
        got = cli.main(["plot", *files, "-o", str(tmp_path / "p.png"), *args.split()])
    except SystemExit as e:  # bad usage
        got = e.code
    assert got == status and capfd.readouterr().err.endswith(err)
    if pixels:
        png = (tmp_path / "p.png").read_bytes()
        assert png[:16] == b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR"
        assert tuple(np.frombuffer(png, ">u4", 2, 16)) == pixels


def test_span_cuts_the_lines_and_the_axis(tmp_path):
    lo, hi = np.datetime64("2020-01-05T00:30:00.5"), np.datetime64("2020-01-05T01:45")
    traces = hourly(tmp_path, [0, 1, 2])
    ax = cli.figure(traces, start=str(lo), end=hi).axes[0]
    x = ax.lines[0].get_xdata()
    assert (x[0], x[-1], len(x)) == (np.datetime64("2020-01-05T00:30:01"), hi, 4500)
    assert ax.get_xlim() == pytest.approx(mdates.date2num([lo, hi]), abs=1e-9)
    # The title shows the window's start, not its first sample's (00:30:01).
    assert ax.get_title(loc="left") == "ANMO BHZ   2020-01-05 00:30:00.500 UTC"
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # nor an axis limit matplotlib cannot place
        ax = cli.figure(traces, start="-300000-01-01", end=np.datetime64(2**62, "s")).axes[0]
    x, (left, right) = mdates.date2num(ax.lines[0].get_xdata()), ax.get_xlim()
    assert len(x) == 10800 and left <= x[0] < x[-1] <= right < x[-1] + 1
    assert ax.get_xlabel() == "UTC"


@pytest.mark.parametrize("size", [None, (4, 3), (12, 20)])
def test_titles_clear_of_offset_text_inside_the_figure(tmp_path, size):
    big = dict(y=lambda h: 2e9 + np.arange(3600.0) * 7, knetwk="NNNNNNNN", khole="LLLLLLLL")
    traces = hourly(tmp_path, [0, 1], "WWWWWWWW", "HHZ", **big) + hourly(
        tmp_path, [1], y=lambda h: np.arange(3600) * 1e9)
    fig = cli.figure(traces, start="2020-01-05T00:00:00.5" if size else None, size=size)
    fig.canvas.draw()
    r, inside, above = fig.canvas.get_renderer(), fig.bbox, None
    for ax in fig.axes:
        title = next(c for c in ax.get_children()
                     if isinstance(c, Text) and c.get_text() == ax.get_title("left"))
        box, offset = title.get_window_extent(r), ax.yaxis.get_offset_text()
        assert offset.get_text() and not box.overlaps(offset.get_window_extent(r))
        assert inside.contains(*box.p0) and inside.contains(*box.p1) and box.width > 100
        assert not (above and box.overlaps(above)) and inside.contains(*ax.get_tightbbox(r).p1)
        above = ax.get_window_extent(r)
    assert inside.contains(*fig.get_tightbbox(r).transformed(fig.dpi_scale_trans).p0)


@pytest.mark.parametrize("year", [2**31 - 1, 20000, 0, 1])  # beyond datetime64, matplotlib
def test_plot_of_unplottable_times_in_seconds(tmp_path, capfd, year):
    kivf.write(tmp_path / "t.kiv", [1.0, 2.0], delta=1.0, nzyear=year, nzjday=1, nzhour=0,
               nzmin=0, nzsec=0, nzmsec=0)
    assert cli.main(["plot", str(tmp_path / "t.kiv"), "-o", str(tmp_path / "p.svg")]) == 0
    assert "seconds from the start" in (tmp_path / "p.svg").read_text()
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("fields, args, status, err", [
    (dict(nzyear=-12345), "", 0, ""),  # no reference time
    (dict(x=np.arange(3600.0) ** 1.5, delta=-12345.0), "", 0, ""),  # uneven, no DELTA
    ({}, "--size 999x2", 1, "a 999x2 inch plot is 79920x160 pixels"),
    ({}, "--size 2x999", 1, "a 2x999 inch plot is 160x79920 pixels"),
    ({}, "--size 999x999", 1, "a 999x999 inch plot is 79920x79920 pixels"),
    ({}, "--size 819.2x3", 1, "a 819.2x3 inch plot is 65536x240 pixels"),  # one too wide
    ({}, "--size 800x800", 1, "a 800x800 inch plot is 64000x64000 pixels"),
    ({}, "--size 103x103", 1, "a 103x103 inch plot is 8240x8240 pixels")])  # each side fits
def test_cli_files_that_join_nothing_and_sizes_beyond_the_limits(tmp_path, capfd, fields, args,
                                                                  status, err):
    kivf.write(tmp_path / "t.kiv", np.sin(np.arange(3600) / 50), **{**DAY, "nzhour": 0, **fields})
    t, png = kivf.read(tmp_path / "t.kiv"), tmp_path / "p.png"
    assert (t.x is not None, np.isnat(t.starttime)) == ("x" in fields, "nzyear" in fields)
    got = cli.main(["plot", str(tmp_path / "t.kiv"), "-o", str(png), *args.split()])
    said = f"kivf plot: {err} at 80 an inch: at most 65535 a side and 67108864 in all\n"
    assert (got, capfd.readouterr()) == (status, ("", said if err else ""))
    assert png.exists() == (status == 0)


def test_sort_by_distance_and_distance_in_titles(tmp_path, monkeypatch):
    ev = dict(stlo=0.0, evla=0.0, evlo=0.0)
    at = dict(AAA=dict(stla=60.0, **ev), BBB={}, CCC=dict(stla=0.5, **ev), DDD=dict(dist=500.0))
    traces = [hourly(tmp_path, [0], s, **f)[0] for s, f in at.items()]
    deg = [float(np.float32(kivf.sphgeo(at[s]["stla"], 0, 0, 0)[0])) for s in ("AAA", "CCC")]
    far = dict(AAA=f"{deg[0]:.1f}°   ", BBB="", CCC=f"{deg[1]:.2g}°   ", DDD="500 km   ")
    seen, real, files = [], cli.figure, sorted(map(str, tmp_path.glob("*.kiv")))
    monkeypatch.setattr(cli, "figure", lambda *a, **k: seen.append(k["sort"]) or real(*a, **k))
    for sort, order in [(None, "AAA BBB CCC DDD"), ("distance", "CCC AAA BBB DDD")]:
        titles = [ax.get_title(loc="left") for ax in real(traces, sort=sort).axes]
        assert titles == [f"{s} BHZ   {far[s]}2020-01-05 00:00:00.000 UTC" for s in order.split()]
        assert cli.main(["plot", *files, "-o", str(tmp_path / "p.png"),
                         *(["--sort", sort] if sort else [])]) == 0 and seen.pop() == sort
