# SPDX-License-Identifier: Apache-2.0
"""kivf's times, slices, merging, filled header fields and patterns."""
import re

import numpy as np
import pytest

import kivf

REF = dict(nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0)
U = -12345.0


def trace(tmp_path, data, name="t.kiv", **fields):
    kivf.write(tmp_path / name, data, **{**REF, **fields})
    return kivf.read(tmp_path / name)


def words(path):
    return np.fromfile(path, np.float32, 70)


@pytest.mark.parametrize("fields, n, rate, end", [
    (dict(delta=0.5, b=0.25), 3, 2.0, "00:00:01.250000"), (dict(delta=0.5), 0, 2.0, "NaT"),
    (dict(delta=1 / 33.333, b=0.0), 2, 33.333, "00:00:00.030000"),  # the nominal rate's interval
    (dict(b=0.0), 3, None, "NaT"), (dict(delta=0.0), 2, None, "00:00:00.000000"),
    (dict(x=[0.0, 0.5, 2.25], b=0.0), 3, None, "00:00:02.250000"),
    (dict(delta=0.5, nzyear=-12345), 3, 2.0, "NaT")])
def test_nominal_sampling_rate_endtime_utc_times(tmp_path, fields, n, rate, end):
    t = trace(tmp_path, np.arange(n), **fields)
    u = t.utc_times()
    assert t.sampling_rate == rate and str(t.endtime)[-15:] == end[-15:] and len(u) == n
    assert str(u[-1])[-15:] == end if n and end != "NaT" else np.isnat(u).all()


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
    (10, 0.5, "2020-01-05T00:00:01", "2020-01-05T00:00:02.5", 2, 4, "00:00:01.000000", 1.5),  # on
    (10, 0.5, "2020-01-05T00:00:01.2", "2020-01-05T00:00:02.7", 3, 3, "00:00:01.500000", 1.0),
    (10, 0.5, "2020-01-05T00:00:04.6", None, 0, 0, "00:00:00.000000", None),  # after the last
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
    for args, text in [(("yesterday",), "is not a time"),  # compared before clamping, exactly:
                       (("300001-01-01", "300000-01-01"),
                        "^slice: start 300001-01-01 is after end 300000-01-01$")]:
        with pytest.raises(ValueError, match=text):
            t.slice(*args)
    with pytest.raises(ValueError, match="no sample times"):
        trace(tmp_path, [1.0], b=0.0).slice()


@pytest.mark.parametrize("start, end, kept", [  # bounds beyond datetime64[us], any unit
    ("-300000-01-01", None, 4200), ("300000-01-01", None, 0), (None, "-300000-01-01", 0),
    (np.datetime64(-2**63 + 1, "W"), np.datetime64(2**63 - 1, "D"), 4200),
    ("2020-01-05T00:00:41.98", "300000", 2)])  # the last two samples are at 41.98 and 41.99
def test_slice_far_out_bounds_clamp(tmp_path, start, end, kept):
    t = trace(tmp_path, np.arange(4200.0), delta=0.01, b=0.0)
    s = t.slice(start, end)
    assert len(s.data) == kept and np.array_equal(s.data, t.data[len(t.data) - kept:])
    if kept:
        assert s.endtime == t.endtime and s.starttime == t.utc_times()[-kept]


@pytest.mark.parametrize("data, fields, e, depmin, depmax, depmen", [
    ([1.0, np.nan, 4.0], dict(delta=0.5, b=1.0), 2.0, 1.0, 4.0, 2.5),
    ([1.0, 4.0], dict(delta=0.5), U, 1.0, 4.0, 2.5), ([1.0, 4.0], dict(b=1.0), U, 1.0, 4.0, 2.5),
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
    ({}, "ab", [20]), (dict(b=-0.4), "ba", [20]), (dict(b=-5.0), "ab", [10, 10]),
    (dict(delta=0.5, b=0.0), "ab", [10, 10]), (dict(kstnm="HRV"), "ab", [10, 10]),
    (dict(delta=U), "ab", [10, 10]), (dict(x=np.arange(10.0)), "ab", [10, 10])])  # join nothing
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
