# SPDX-License-Identifier: Apache-2.0
"""python3 -m kivf plot: panels per channel, joined files, labels, calibration, span, size; its
quick looks: long runs read in pieces and drawn per pixel column with every extreme kept,
processing, panel order, picks, windows relative to them, spans far apart."""
import importlib.util

import matplotlib.dates as mdates
import numpy as np
import pytest
from matplotlib.text import Text

import kivf
from kivf import _looks
from kivf import __main__ as cli

# Filters need scipy, an optional dependency: without it those tests are skipped.
scipy = pytest.mark.skipif(importlib.util.find_spec("scipy") is None, reason="needs scipy")
T0 = dict(nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0, b=0.0, delta=1.0)


@pytest.fixture(autouse=True)
def closed():
    import matplotlib.pyplot as plt
    yield
    plt.close("all")


def made(tmp_path, name, y, **f):
    kivf.write(tmp_path / name, y, **{**T0, **f})
    return str(tmp_path / name)


def opened(*paths):
    return [s for p in paths for s in _looks.sources(p)[0]]


def hourly(tmp_path, hours, sta="ANMO", cmp="BHZ", y=lambda h: np.sin(np.arange(3600) / 50 + h),
           **f):
    return [kivf.read(made(tmp_path, f"{sta}.{cmp}.{h:02d}.kiv", y(h), nzhour=h, kstnm=sta,
                           kcmpnm=cmp, **f)) for h in hours]


@pytest.mark.parametrize("fields, calib, label, factor", [
    (dict(idep="IVEL", scale=2.0), False, "VELOCITY (NM/SEC)", 1),
    (dict(idep="IDISP", scale=2.0), True, "DISPLACEMENT (NM)", 2),
    (dict(scale=2.0), True, "counts × calib", 2), (dict(idep="IUNKN"), True, "counts", 1)])
def test_label_and_calibration(tmp_path, fields, calib, label, factor):
    t = hourly(tmp_path, [0], **fields)[0]
    ax = cli.figure([t], calib=calib).axes[0]
    assert ax.get_ylabel() == label and np.array_equal(ax.lines[0].get_ydata(), t.data * factor)


@pytest.mark.parametrize("args, status, err, pixels", [
    ("", 0, "", (720, 320)),  # 9 inches wide, 0.6 + 1.7 a panel
    ("--size 4x2.5 --start 2020-01-05T00:30 --end 2020-01-05T01:30", 0, "", (320, 200)),
    ("--start 2021-01-01", 1, "no samples between 2021-01-01T00:00:00.000000 and the end\n", 0),
    ("--size 9x1", 1, "kivf plot: a 9x1 inch plot leaves no room for 2 panels\n", 0),
    ("--start yesterday", 1, "argument --start: not an ISO time or a mark (O, A, T0-T9) and "
     "seconds: 'yesterday'\n", 0)])
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


@pytest.mark.parametrize("fields, args, status, err", [
    (dict(nzyear=-12345), "", 0, ""),  # no reference time
    (dict(x=np.arange(3600.0) ** 1.5, delta=-12345.0), "", 0, ""),  # uneven, no DELTA
    ({}, "--size 819.2x3", 1, "a 819.2x3 inch plot is 65536x240 pixels"),  # one too wide
    ({}, "--size 103x103", 1, "a 103x103 inch plot is 8240x8240 pixels")])  # each side fits
def test_cli_files_that_join_nothing_and_sizes_beyond_the_limits(tmp_path, capfd, fields, args,
                                                                  status, err):
    kivf.write(tmp_path / "t.kiv", np.sin(np.arange(3600) / 50), **{**T0, "nzhour": 0, **fields})
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


def test_long_run_drawn_per_column_keeps_every_peak_and_reads_in_pieces(tmp_path, monkeypatch):
    n = 3 * _looks.DENSE
    y = np.zeros(n, np.float32)
    peaks = {17: 5.0, 123_457: -7.0, n // 2: 3.5, n - 1: 9.0, 400_001: -2.25}
    for i, v in peaks.items():
        y[i] = v
    paths = [made(tmp_path, f"p{k}.kiv", y[k * n // 3:(k + 1) * n // 3], delta=0.01,
                  b=k * n // 3 * 0.01, kstnm="ST") for k in range(3)]
    sizes = []
    real = _looks.Source.read
    monkeypatch.setattr(_looks, "_PIECE", 50_000)
    monkeypatch.setattr(_looks.Source, "read", lambda s, f, c: sizes.append(c) or real(s, f, c))
    ax = cli.figure(opened(*paths)).axes[0]
    x, got = ax.lines[0].get_xdata(), ax.lines[0].get_ydata()
    assert len(got) < 2000 and max(sizes) <= 50_000 and sum(sizes) == n
    assert all(v in got for v in peaks.values()) and set(got) == {0.0, *peaks.values()}
    # Each column's pair at its first sample's time, in time order across the whole day.
    start = np.datetime64("2020-01-05T00:00:00", "us")
    assert x[0] == start and np.all(np.diff(x.astype(np.int64)) >= 0)
    assert x[-1] <= start + np.timedelta64((n - 1) * 10_000, "us")


@scipy
def test_plot_filter_demean_normalize(tmp_path, capfd):
    t = np.arange(20_000) / 100.0
    y = 1e6 + 300 * np.sin(2 * np.pi * 2 * t) + 300 * np.sin(2 * np.pi * 30 * t)
    path = made(tmp_path, "f.kiv", y.astype(np.float32), delta=0.01)
    ax = cli.figure(opened(path), filter="lowpass:5").axes[0]
    tail = ax.lines[0].get_ydata()[5000:]  # past the filter's start
    assert 250 < np.max(np.abs(tail)) < 320  # the 2 Hz sine kept, the 30 Hz and offset gone
    ax = cli.figure(opened(path), demean=True, normalize=True).axes[0]
    got = ax.lines[0].get_ydata()
    assert np.max(np.abs(got)) == 1.0 and abs(np.mean(got)) < 1e-3
    assert ax.get_ylabel() == "normalized"
    with pytest.raises(SystemExit, match="1"):
        cli.main(["plot", path, "-o", str(tmp_path / "p.png"), "--filter", "bandpass:9:1"])
    assert "argument --filter: filter 'bandpass:9:1': LO 9.0 must be below HI 1.0" in \
        capfd.readouterr().err


def test_panels_by_station_then_z_n_e(tmp_path):
    paths = [made(tmp_path, f"{sta}{cmp}.kiv", np.zeros(10), kstnm=sta, kcmpnm=cmp)
             for sta, cmp in [("ZZ", "HH2"), ("AB", "BHE"), ("ZZ", "LHX"), ("AB", "BHN"),
                              ("ZZ", "HH1"), ("AB", "BHZ")]]
    titles = [ax.get_title(loc="left").split("   ")[0] for ax in cli.figure(opened(*paths)).axes]
    assert titles == ["AB BHZ", "AB BHN", "AB BHE", "ZZ HH1", "ZZ HH2", "ZZ LHX"]


def test_picks_drawn_and_windows_relative_to_them(tmp_path):
    a = made(tmp_path, "a.kiv", np.arange(3600.0), kstnm="AAA", o=100.0, a=400.0, ka="P",
             t3=500.5, kt3="S")
    b = made(tmp_path, "b.kiv", np.arange(3600.0), kstnm="BBB", o=100.0, a=700.0)
    fig = cli.figure(opened(a, b), start="O-30", end="A+120")
    first = fig.axes[0]
    labels = [[t.get_text().strip() for t in ax.texts] for ax in fig.axes]
    assert labels == [["O", "P", "S"], ["O", "A"]]
    marks = sorted(mdates.date2num(ln.get_xdata()[0]) for ln in first.lines[1:])
    assert marks == list(mdates.date2num(np.datetime64("2020-01-05T00:00:00") +
                                         np.array([100_000, 400_000, 500_500], "timedelta64[ms]")))
    # Each panel cut to its own window: O-30 = 70 s; A+120 = 520 s and 820 s.
    assert [(ax.lines[0].get_ydata()[0], ax.lines[0].get_ydata()[-1]) for ax in fig.axes] == \
        [(70.0, 520.0), (70.0, 820.0)]
    with pytest.raises(ValueError, match="end T7\\+1: AAA has no T7"):
        cli.figure(opened(a), end="T7+1")


@scipy
def test_filter_starts_early_so_neither_offset_nor_window_edge_rings(tmp_path):
    t = np.arange(60_000) / 100.0
    y = 1e6 + 4000 * np.sin(2 * np.pi * 0.2 * t + 1) + 100 * np.sin(2 * np.pi * 5 * t)
    run, = _looks.runs(opened(made(tmp_path, "m.kiv", y.astype(np.float32), delta=0.01)))
    sos = kivf._process.design("bandpass", (1, 10), 4, 100.0)
    # The 5 Hz sine passes (|H| = 1 within 4%); a step of the offset or of the microseism at
    # the first sample filtered rings far above it.
    for i0, lead, taper, most in [(30_000, 1000, 200, 105), (0, 1000, 200, 150),
                                  (30_000, 0, 0, 3000)]:
        got = np.concatenate(list(_looks.values(run, i0, i0 + 5000, None, False, sos, lead,
                                                taper)))
        assert len(got) == 5000 and most / 1.5 < np.max(np.abs(got)) < most, (i0, lead)
        assert np.max(np.abs(got[1000:])) < 105  # rung out after 10 s


@scipy
def test_the_guides_picture_is_made(tmp_path):
    import os
    import runpy
    script = os.path.join(os.environ.get("KIVF_SOURCE_DIR", "."), "docs", "quicklook.py")
    out = tmp_path / "q.png"
    assert runpy.run_path(script)["main"](str(out)) == 0
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_times_in_seconds_when_no_date_can_be_drawn(tmp_path):
    # Year 20000: beyond what matplotlib draws. A run of two files, then one with a gap; a pick.
    paths = [made(tmp_path, f"s{k}.kiv", np.arange(5.0), nzyear=20000, b=b, delta=0.5, a=b + 1)
             for k, b in enumerate((0.0, 2.5, 10.0))]
    ax = cli.figure(opened(*paths)).axes[0]
    assert [list(ln.get_xdata()) for ln in ax.lines[:2]] == [
        [0.5 * k for k in range(10)], [10.0, 10.5, 11.0, 11.5, 12.0]]
    assert sorted(ln.get_xdata()[0] for ln in ax.lines[2:]) == [1.0, 3.5, 11.0]  # each A
    assert ax.get_xlabel() == "seconds from the start"


@pytest.mark.parametrize("spans, groups", [
    # (start s, samples at 1 Hz) of one channel's files; covered time against the gaps.
    ([(0, 1000), (500, 1500), (17_000, 100)], 1),  # overlapping: 2000 s covered, gap 15000
    ([(0, 1000), (100, 100), (10_500, 100)], 1),  # inside the first: gap 9500 < 11000
    ([(0, 1000), (100, 100), (12_500, 100)], 2),
    ([(0, 100), (159, 100)], 1)])  # a minute apart: never far
def test_spans_far_apart_by_ten_times_what_the_data_cover(tmp_path, spans, groups):
    paths = [made(tmp_path, f"g{sta}{k}.kiv", np.zeros(n), b=float(b), kstnm=sta)
             for sta in ("A", "B") for k, (b, n) in enumerate(spans)]
    fig = cli.figure(opened(*paths), separate=True)  # two channels: two panels a group
    shared = fig.axes[0].get_shared_x_axes()
    assert len(fig.axes) == 2 * groups
    assert all(shared.joined(fig.axes[0], a) for a in fig.axes[1:]) == (groups == 1)
    note = cli.figure(opened(*paths)).texts
    assert len(note) == (groups > 1) and all(0 < t.get_position()[0] <= 1 for t in note)
    assert all("far apart" in t.get_text() for t in note)
