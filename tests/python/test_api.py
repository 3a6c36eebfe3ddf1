# SPDX-License-Identifier: Apache-2.0
"""kivf's times, slices, merging, filled header fields and patterns."""
import os
import re
import subprocess

import numpy as np
import pytest

import kivf
from kivf import __main__ as cli

BIN = os.environ.get("KIVF_BINARY_DIR", "")
REF = dict(nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0)
WORDS = dict(DELTA=0, DEPMIN=1, DEPMAX=2, SCALE=3, B=5, E=6, T0=10, DEPMEN=56)  # header words
D25 = float.fromhex("0x1.99999a0000000p-6")  # float32 0.025, exactly
U = -12345.0


def trace(tmp_path, data, name="t.kiv", **fields):
    kivf.write(tmp_path / name, data, **{**REF, **fields})
    return kivf.read(tmp_path / name)


def words(path):
    return np.fromfile(path, np.float32, 70)


def wfdxlate(d, lines):
    (d / "a.wfdisc").write_text("".join(f"{l} f4 - . a.w 0 -1 0\n" for l in lines))
    subprocess.run([f"{BIN}/wfdxlate/wfdxlate", "-q", "a.wfdisc"], cwd=d, check=True)


def test_batch_converted_header_start_title_and_the_same_header_refilled(tmp_path):
    y = np.random.default_rng(3).normal(0, 1e6, 1000).astype("<f4")  # floats and NaNs
    y[[0, 500]] = np.nan
    y.tofile(tmp_path / "a.w")
    wfdxlate(tmp_path, ["TKL HHZ 1488931200.01975 -1 -1 2017067 0 1000 40 1 1 - -"])
    batch = tmp_path / "TKL.HHZ.2017.067.00.00.00.019.kiv"
    t, w = kivf.read(batch), words(batch)
    h = t.header
    assert [h[k].view(np.uint32) for k in WORDS if k in h] == [
        w[i].view(np.uint32) for k, i in WORDS.items() if k in h] and str(h["DELTA"]) == "0.025"
    assert str(t.starttime) == "2017-03-08T00:00:00.019750" and h["B"] == np.float32(75e-5)
    assert cli.main(["plot", str(batch), "-o", str(tmp_path / "p.svg")]) == 0
    assert "TKL HHZ   2017-03-08 00:00:00.019750 UTC" in (tmp_path / "p.svg").read_text()
    fields = {k: h[k.upper()] for k in ("DELTA", "B", "SCALE", *REF)}
    kivf.write(tmp_path / "w.kiv", t.data, **fields)
    assert (words(tmp_path / "w.kiv") == w).sum() == 70  # E, DEPMIN, DEPMAX, DEPMEN too
    t = trace(tmp_path, np.zeros(144000), delta=0.025, b=0.0)  # an hour at 40 Hz
    # The nominal 40 Hz, not 1/DELTA (DELTA is 0.025 + 3.7e-10): i * DELTA would end 54 us late.
    assert t.times()[-1] == 3599.975 and t.sampling_rate == 40.0 and D25 * 143999 > 3599.97505
    assert t.endtime == t.utc_times()[-1] == np.datetime64("2020-01-05T00:59:59.975000")
    shown = subprocess.run([f"{BIN}/kivhdr/kivhdr", "-f", "ENDTIME", "-f", "E", batch, "t.kiv"],
                           cwd=tmp_path, capture_output=True, text=True, check=True).stdout
    assert shown.split() == ["2017-03-08T00:00:24.994750Z", "24.97575",
                             "2020-01-05T00:59:59.975000Z", "3599.975"]  # E's float is 98 us on


def test_rates_recorders_use_read_back_from_batch_conversion(tmp_path):
    rates = ("0.1 0.2 0.5 1 2 2.5 4 5 8 10 12.5 16 20 25 31.25 33.333 40 50 62.5 80 100 125 200 "
             "250 400 500 1000").split()
    np.zeros(10, "<f4").tofile(tmp_path / "a.w")
    wfdxlate(tmp_path, [f"R{k} BHZ 1488931200.0 -1 -1 2017067 0 10 {r} 1 1 - -"
                        for k, r in enumerate(rates)])
    got = [kivf.read(tmp_path / f"R{k}.BHZ.2017.067.00.00.00.000.kiv").sampling_rate
           for k in range(len(rates))]
    assert got == [float(r) for r in rates]


@pytest.mark.parametrize("delta, rate", [
    (0.025, 40.0), (0.01, 100.0), (0.005, 200.0), (1.0, 1.0), (10.0, 0.1), (3.0, 1 / 3),
    (0.032, 31.25), (1 / 33.333, 33.333), (1 / 10.001, 1e5 / 9999), (-0.025, None),
    (np.inf, None)])
def test_sampling_rate_is_nominal_and_delta_stays_stored(tmp_path, delta, rate):
    t = trace(tmp_path, np.zeros(3), delta=delta, b=0.0)
    assert t.sampling_rate == rate and t.delta == np.float32(delta)


@pytest.mark.parametrize("fields, n, rate, end", [
    (dict(delta=0.5, b=0.25), 3, 2.0, "00:00:01.250000"), (dict(delta=0.5), 0, 2.0, "NaT"),
    (dict(b=0.0), 3, None, "NaT"), (dict(delta=0.0), 2, None, "00:00:00.000000"),
    (dict(x=[0.0, 0.5, 2.25], b=0.0), 3, None, "00:00:02.250000"),
    (dict(delta=0.5, nzyear=-12345), 3, 2.0, "NaT")])
def test_sampling_rate_endtime_utc_times(tmp_path, fields, n, rate, end):
    t = trace(tmp_path, np.arange(n), **fields)
    u = t.utc_times()
    assert t.sampling_rate == rate and str(t.endtime)[-15:] == end[-15:] and len(u) == n
    assert str(u[-1])[-15:] == end if n and end != "NaT" else np.isnat(u).all()


def test_files_at_100_hz_merge_without_drift(tmp_path):
    # Files as a converter writes them, each from its own reference time, B 0, DELTA 0.01:
    # i * DELTA would drift 160 us over each file.
    n = 720_000
    parts = [trace(tmp_path, np.full(n, k, np.float32), f"d{k}.kiv", delta=0.01, b=0.0,
                   nzyear=2016, nzjday=60, nzhour=2 * k, kstnm="ANMO") for k in range(3)]
    (m,) = kivf.read(str(tmp_path / "d*.kiv"), merge=True)
    t = m.utc_times()
    assert len(t) == 3 * n and m.sampling_rate == 100.0
    assert np.array_equal(t, np.concatenate([d.utc_times() for d in parts]))
    assert m.endtime == np.datetime64("2016-02-29T05:59:59.990000") == t[-1]
    m.write(tmp_path / "m.kiv")  # written back: its start and DELTA give the same times
    assert np.array_equal(kivf.read(tmp_path / "m.kiv").utc_times(), t)


@pytest.mark.parametrize("moved, joined", [(0, True), (15000, True), (-15000, True),
                                           (15001, False), (-15001, False)])
def test_pieces_join_on_the_nominal_grid(tmp_path, moved, joined):
    # 33.333 Hz: an interval of 30000.3 us, half of it 15000.15; the second piece starts where
    # the first one's grid continues, as a converter writes it (to the microsecond), or moved.
    a = trace(tmp_path, np.zeros(1000), "a.kiv", delta=1 / 33.333, b=0.0, kstnm="ANMO")
    grid = int(a._offsets(1000, 1)[0]) + moved  # 30 s and 300 us after a's start
    b = trace(tmp_path, np.ones(500), "b.kiv", delta=1 / 33.333, b=(grid % 1000) / 1e6,
              nzsec=grid // 10**6, nzmsec=grid // 1000 % 1000, kstnm="ANMO")
    m = kivf.merge([b, a])
    assert [len(x.data) for x in m] == ([1500] if joined else [1000, 500])
    if joined:  # b's samples move by what it was off the grid, within a microsecond
        moved_by = (m[0].utc_times()[1000:] - b.utc_times()).astype(np.int64)
        assert np.abs(moved_by + moved).max() <= 1


@pytest.mark.parametrize("n, delta, start, end, first, count, begins, e", [
    (10, 0.5, None, None, 0, 10, "00:00:00.000000", 4.5),
    (10, 0.5, "2020-01-05T00:00:01", "2020-01-05T00:00:02.5", 2, 4, "00:00:01.000000", 1.5),  # on
    (10, 0.5, "2020-01-05T00:00:01.2", "2020-01-05T00:00:02.7", 3, 3, "00:00:01.500000", 1.0),
    (10, 0.5, np.datetime64("2019-12-31"), "2020-01-05T00:00:00.4", 0, 1, "00:00:00.000000", 0.0),
    (10, 0.5, "2020-01-05T00:00:04.6", None, 0, 0, "00:00:00.000000", None),  # after the last
    (10, 0.5, None, "2020-01-04", 0, 0, "00:00:00.000000", None),  # before the first
    (144000, 0.025, "2020-01-05T00:59:00", None, 141600, 2400, "00:59:00.000000", 59.975001)])
def test_slice(tmp_path, n, delta, start, end, first, count, begins, e):
    t = trace(tmp_path, np.arange(n) + 1.0, delta=delta, b=0.0, t0=3.0)
    s = t.slice(start, end)
    h, y = s.header, np.arange(first, first + count) + 1.0
    moved = s.utc_times() - t.utc_times()[first:][:count]  # times from the new start, to the us
    assert np.array_equal(s.data, y) and set(moved.astype(int)) <= {-1, 0, 1}
    assert str(s.starttime)[11:] == begins and h["NPTS"] == count and s.x is None
    assert [h.get(k) for k in ("DEPMIN", "DEPMAX", "DEPMEN", "E")] == ([
        y[0], y[-1], (y[0] + y[-1]) / 2, np.float32(e)] if count else [None] * 4)
    assert h["T0"] == np.float32(3.0 - (s._reference() - t._reference()) / 1e6)  # T0 stays put


def test_slice_uneven_and_refusals(tmp_path):
    t = trace(tmp_path, [1.0, 2.0, 3.0, 4.0], x=[0.0, 1.0, 3.0, 7.0], b=-1.0)
    s = t.slice("2020-01-05T00:00:02")
    assert (list(s.data), list(s.x), s.header["B"], s.header["E"], str(s.starttime)) == (
        [3.0, 4.0], [3.0, 7.0], 3.0, 7.0, "2020-01-05T00:00:03.000000")
    for args, text in [(("2020-01-06", "2020-01-05"), "is after end"),
                       (("yesterday",), "is not a time"),  # compared before clamping, exactly:
                       (("300001-01-01", "300000-01-01"),
                        "^slice: start 300001-01-01 is after end 300000-01-01$")]:
        with pytest.raises(ValueError, match=text):
            t.slice(*args)
    with pytest.raises(ValueError, match="no sample times"):
        trace(tmp_path, [1.0], b=0.0).slice()


@pytest.mark.parametrize("start, end, kept", [  # bounds beyond datetime64[us], any unit
    ("-300000-01-01", None, 4200), (None, "300000-01-01", 4200), ("300000-01-01", None, 0),
    (None, "-300000-01-01", 0), ("-300000-01-01T00:00:00.000000001", "300000-01-01T00:00", 4200),
    (np.datetime64(-2**62, "Y"), np.datetime64(2**62, "M"), 4200),
    (np.datetime64(-2**63 + 1, "W"), np.datetime64(2**63 - 1, "D"), 4200),
    (np.datetime64(-2**62, "s"), np.datetime64(2**62, "ms"), 4200),
    (np.datetime64(-2**62, "m"), np.datetime64(-2**62, "ms"), 0),
    (np.datetime64(2**62, "h"), None, 0), (None, "99999999999999999999-01-01", 4200),
    ("2020-01-05T00:00:41.98", "300000", 2)])  # the last two samples are at 41.98 and 41.99
def test_slice_far_out_bounds_clamp(tmp_path, start, end, kept):
    t = trace(tmp_path, np.arange(4200.0), delta=0.01, b=0.0)
    s = t.slice(start, end)
    assert len(s.data) == kept and np.array_equal(s.data, t.data[len(t.data) - kept:])
    if kept:
        assert s.endtime == t.endtime and s.starttime == t.utc_times()[-kept]


@pytest.mark.parametrize("unit", ["Y", "M", "W", "D", "h", "m", "s", "ms", "us", "ns", "ps",
                                  "fs", "as", "7D", "250ms", "1000ns"])
def test_times_in_range_read_as_numpy_casts_them(unit):
    lo, hi = 1 - 2**63, 2**63 - 1  # all of the finer units' range lies in datetime64[us]'s
    finer = ["ns", "ps", "fs", "as"]
    if unit in finer:  # numpy's own cast wraps at the very bottom: rounded down here
        us = lo // 1000 ** (finer.index(unit) + 1)
        assert kivf._time(np.datetime64(lo, unit), "t") == np.datetime64(us, "us")
        lo += 10**12
    else:
        ends = np.array([lo, hi], "M8[us]").astype(f"M8[{unit}]").astype(np.int64)
        lo, hi = int(ends[0]) + 1, int(ends[1])  # numpy rounds down: the first is out
    for n in [*(lo + (hi - lo) * k // 61 for k in range(62)), 0, -1]:
        v = np.datetime64(n, unit)
        assert kivf._time(v, "t") == v.astype("datetime64[us]")
    assert kivf._time("-1970-01-01T00:00:00.0000015", "t") == np.datetime64(
        "-1970-01-01T00:00:00.000001")  # numpy's own reading wraps inside datetime64[ns]


@pytest.mark.parametrize("data, fields, e, depmin, depmax, depmen", [
    ([1.0, np.nan, 4.0], dict(delta=0.5, b=1.0), 2.0, 1.0, 4.0, 2.5),
    ([1.0, 4.0], dict(delta=0.5), U, 1.0, 4.0, 2.5), ([1.0, 4.0], dict(b=1.0), U, 1.0, 4.0, 2.5),
    ([np.nan] * 2, dict(delta=0.5, b=1.0), 1.5, U, U, U),
    ([1.0, 2.0], dict(x=[0.5, 5.5]), 5.5, 1.0, 2.0, 1.5),
    ([1.0, 4.0], dict(delta=0.5, b=1.0, e=9.0, depmin=-7.0, DEPMEN=U), 9.0, -7.0, 4.0, U)])
def test_write_fills_unless_given(tmp_path, data, fields, e, depmin, depmax, depmen):
    kivf.write(tmp_path / "f.kiv", data, **fields)
    assert list(words(tmp_path / "f.kiv")[[6, 1, 2, 56]]) == [e, depmin, depmax, depmen]


@pytest.mark.parametrize("fields, shown", [  # texts read back stripped at both ends
    (dict(kstnm="  AB ", kevnm="ABC", ihdr20=999), dict(KSTNM="AB", KEVNM="ABC", IHDR20=999)),
    (dict(kevnm="-12345  abcdefgh"), dict(KEVNM="-12345  abcdefgh"))])  # first half "undefined"
def test_header_fields_read_back(tmp_path, fields, shown):  # IHDR20: the last enumerated slot
    h = trace(tmp_path, [1.0], **fields).header
    assert {k: h[k] for k in shown} == shown


@pytest.mark.parametrize("change, order, lengths", [
    ({}, "ab", [20]), (dict(b=0.4), "ab", [20]), (dict(b=-0.4), "ba", [20]),
    (dict(b=0.5), "ab", [10, 10]), (dict(b=-5.0), "ab", [10, 10]),  # half a sample: apart
    (dict(delta=0.5, b=0.0), "ab", [10, 10]), (dict(kstnm="HRV"), "ab", [10, 10]),
    (dict(kcmpnm="BHN"), "ab", [10, 10]), (dict(knetwk="XX"), "ab", [10, 10])])
def test_merge(tmp_path, change, order, lengths):
    f = dict(delta=1.0, b=0.0, kstnm="ANMO", kcmpnm="BHZ", knetwk="IU")
    a = trace(tmp_path, np.arange(10.0), "a.kiv", **f)
    b = trace(tmp_path, np.arange(10.0, 20.0), "b.kiv", **{**f, "nzsec": 10, **change})
    m = kivf.merge([a, b] if order == "ab" else [b, a])
    assert [len(t.data) for t in m] == lengths and m[0].starttime == a.starttime
    if lengths == [20]:
        h, end = m[0].header, str(m[0].endtime)[11:]
        assert np.array_equal(m[0].data, np.arange(20.0)) and end == "00:00:19.000000"
        assert (h["NPTS"], h["E"], h["DEPMEN"]) == (20, 19.0, 9.5)
    else:
        assert m[0] is (a if order == "ab" else b) and m[1] is (b if order == "ab" else a)


@pytest.mark.parametrize("fields", [
    dict(x=[0.0, 1.0, 3.0], delta=U), dict(delta=U), dict(delta=np.nan), dict(delta=np.inf),
    dict(nzyear=-12345), dict(b=np.nan)])
def test_merge_returns_traces_that_join_nothing_as_they_are(tmp_path, fields):
    f = dict(delta=1.0, b=0.0, kstnm="ANMO", kcmpnm="BHZ")
    a = trace(tmp_path, np.arange(10.0), "a.kiv", **f)
    b = trace(tmp_path, np.arange(10.0, 20.0), "b.kiv", **f, nzsec=10)
    lone = trace(tmp_path, [1.0, 2.0, 3.0], "l.kiv", **{**f, "nzsec": 5, **fields})
    m = kivf.merge([b, lone, a, lone])
    assert len(m) == 3 and m[1] is lone and m[2] is lone
    assert np.array_equal(m[0].data, np.arange(20.0)) and m[0].starttime == a.starttime
    assert np.array_equal(kivf.read([tmp_path / "l.kiv"], merge=True)[0].data, lone.data)


def test_merge_of_runs_whose_grid_ends_beyond_every_time(tmp_path):
    # 200 intervals of 3e10 s reach past 2**62 us: no grid continues there, so nothing joins.
    f = dict(delta=3e10, b=0.0, kstnm="ANMO", kcmpnm="BHZ")
    a, b, c = (trace(tmp_path, np.ones(n), f"{k}.kiv", **f, nzsec=s)
               for k, n, s in (("a", 5, 0), ("b", 200, 10), ("c", 5, 20)))
    assert [t is u for t, u in zip(kivf.merge([a, b, c]), [a, b, c])] == [True] * 3


def test_read_lists_and_patterns(tmp_path):
    for k in (2, 0, 1):
        trace(tmp_path, np.arange(3600.0), f"h{k}.kiv", delta=1.0, b=0.0, nzhour=k, kstnm="A")
    trace(tmp_path, [1.0], "a[1].kiv", delta=1.0, b=0.0)
    hours = lambda traces: [t.header["NZHOUR"] for t in traces]
    assert isinstance(kivf.read(tmp_path / "h1.kiv"), kivf.Trace)
    assert hours(kivf.read((tmp_path / "h2.kiv", f"{tmp_path}/h0.kiv"))) == [2, 0]
    assert hours(kivf.read(f"{tmp_path}/h*.kiv")) == [0, 1, 2]
    assert [len(t.data) for t in kivf.read(f"{tmp_path}/h?.kiv", merge=True)] == [10800]
    for name in (tmp_path / "a[1].kiv", f"{tmp_path}/a[1].kiv"):  # a Path, or a name that exists
        assert len(kivf.read(name).data) == 1
    text = re.escape(f"no file matches {tmp_path}/b[1].kiv")
    with pytest.raises(kivf.KivFileNotFoundError, match=f"^{text}$") as e:
        kivf.read(f"{tmp_path}/b[1].kiv")
    assert e.value.number is None and isinstance(e.value, FileNotFoundError)
