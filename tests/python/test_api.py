"""kivf's times, slices, merging, filled header fields, errors and version."""
import os
import pathlib
import re
import subprocess

import numpy as np
import pytest

import kivf

BIN, SRC = os.environ.get("KIVF_BINARY_DIR", ""), os.environ.get("KIVF_SOURCE_DIR", "")
REF = dict(nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0)
WORDS = dict(DELTA=0, DEPMIN=1, DEPMAX=2, SCALE=3, B=5, E=6, T0=10, DEPMEN=56)  # header words
D25 = float.fromhex("0x1.99999a0000000p-6")  # float32 0.025, exactly


def trace(tmp_path, data, name="t.kiv", **fields):
    kivf.write(tmp_path / name, data, **{**REF, **fields})
    return kivf.read(tmp_path / name)


def words(path):
    return np.fromfile(path, np.float32, 70)


@pytest.fixture(scope="module")  # 1000 floats and NaNs, batch-converted, from 00:00:00.019750
def batch(tmp_path_factory):
    d = tmp_path_factory.mktemp("batch")
    y = np.random.default_rng(3).normal(0, 1e6, 1000).astype("<f4")
    y[[0, 500]] = np.nan
    y.tofile(d / "a.w")
    (d / "a.wfdisc").write_text("TKL HHZ 1488931200.01975 -1 -1 2017067 0 1000 40 1 1 - - f4 - "
                                ". a.w 0 -1 1489009080.00000\n")
    subprocess.run([f"{BIN}/wfdxlate/wfdxlate", "-q", "a.wfdisc"], cwd=d, check=True)
    return next(d.glob("TKL*.kiv"))


def test_header_floats_are_the_stored_float32_and_times_use_them(batch, tmp_path):
    h, w = kivf.read(batch).header, words(batch)
    assert {type(h[k]) for k in ("DELTA", "B", "E", "DEPMEN")} == {np.float32}
    assert [h[k].view(np.uint32) for k in WORDS if k in h] == [
        w[i].view(np.uint32) for k, i in WORDS.items() if k in h] and str(h["DELTA"]) == "0.025"
    t = trace(tmp_path, np.zeros(144000), delta=0.025, b=0.0)  # an hour at 40 Hz
    assert t.times()[-1] == D25 * 143999 and t.sampling_rate == 1 / D25  # 54 us past 0.025 s
    assert t.endtime == t.utc_times()[-1] == np.datetime64("2020-01-05T00:59:59.975054")


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


@pytest.mark.parametrize("n, delta, start, end, first, count, begins", [
    (10, 0.5, None, None, 0, 10, "00:00:00.000000"),
    (10, 0.5, "2020-01-05T00:00:01", "2020-01-05T00:00:02.5", 2, 4, "00:00:01.000000"),  # on
    (10, 0.5, "2020-01-05T00:00:01.2", "2020-01-05T00:00:02.7", 3, 3, "00:00:01.500000"),
    (10, 0.5, np.datetime64("2019-12-31"), "2020-01-05T00:00:00.4", 0, 1, "00:00:00.000000"),
    (10, 0.5, "2020-01-05T00:00:04.6", None, 0, 0, "00:00:00.000000"),  # after the last
    (10, 0.5, None, "2020-01-04", 0, 0, "00:00:00.000000"),  # before the first
    (144000, 0.025, "2020-01-05T00:59:00", None, 141600, 2400, "00:59:00.000053")])
def test_slice(tmp_path, n, delta, start, end, first, count, begins):
    t = trace(tmp_path, np.arange(n) + 1.0, delta=delta, b=0.0, t0=3.0)
    s = t.slice(start, end)
    h, y = s.header, np.arange(first, first + count) + 1.0
    moved = s.utc_times() - t.utc_times()[first:][:count]  # times from the new start, to the us
    assert np.array_equal(s.data, y) and set(moved.astype(int)) <= {-1, 0, 1}
    assert str(s.starttime)[11:] == begins and h["NPTS"] == count and s.x is None
    assert [h.get(k) for k in ("DEPMIN", "DEPMAX", "DEPMEN", "E")] == ([
        y[0], y[-1], (y[0] + y[-1]) / 2, np.float32(float(h["B"]) + (count - 1) * float(t.delta))
        ] if count else [None] * 4)  # E: B + (NPTS-1)*DELTA in double, as batch conversion
    assert h["T0"] == np.float32(3.0 - (s._reference() - t._reference()) / 1e6)  # T0 stays put
    s.write(tmp_path / "s.kiv")
    assert kivf.read(tmp_path / "s.kiv").header == h


def test_slice_uneven_and_refusals(tmp_path):
    t = trace(tmp_path, [1.0, 2.0, 3.0, 4.0], x=[0.0, 1.0, 3.0, 7.0], b=-1.0)
    s = t.slice("2020-01-05T00:00:02")
    assert (list(s.data), list(s.x), s.header["B"], s.header["E"], str(s.starttime)) == (
        [3.0, 4.0], [3.0, 7.0], 3.0, 7.0, "2020-01-05T00:00:03.000000")
    for args in (("2020-01-06", "2020-01-05"), ("yesterday",)):
        with pytest.raises(ValueError, match="is after end|is not a time"):
            t.slice(*args)
    with pytest.raises(ValueError, match="no sample times"):
        trace(tmp_path, [1.0], b=0.0).slice()


def test_write_fills_as_batch_conversion(batch, tmp_path):
    t = kivf.read(batch)
    h = {k: t.header[k.upper()] for k in ("DELTA", "B", "SCALE", *REF)}
    kivf.write(tmp_path / "w.kiv", t.data, **h)
    assert (words(tmp_path / "w.kiv") == words(batch)).sum() == 70  # E, DEPMIN, DEPMAX, DEPMEN too


U = -12345.0
@pytest.mark.parametrize("data, fields, e, depmin, depmax, depmen", [
    ([1.0, np.nan, 4.0], dict(delta=0.5, b=1.0), 2.0, 1.0, 4.0, 2.5),
    ([1.0, 4.0], dict(delta=0.5), U, 1.0, 4.0, 2.5), ([1.0, 4.0], dict(b=1.0), U, 1.0, 4.0, 2.5),
    ([np.nan] * 2, dict(delta=0.5, b=1.0), 1.5, U, U, U),
    ([1.0, 2.0], dict(x=[0.5, 5.5]), 5.5, 1.0, 2.0, 1.5),
    ([1.0, 4.0], dict(delta=0.5, b=1.0, e=9.0, depmin=-7.0, DEPMEN=U), 9.0, -7.0, 4.0, U)])
def test_write_fills_unless_given(tmp_path, data, fields, e, depmin, depmax, depmen):
    kivf.write(tmp_path / "f.kiv", data, **fields)
    assert list(words(tmp_path / "f.kiv")[[6, 1, 2, 56]]) == [e, depmin, depmax, depmen]


@pytest.mark.parametrize("setup, kind, number", [
    (lambda p: None, FileNotFoundError, 1410), (lambda p: p.mkdir(), OSError, 1411),
    (lambda p: p.write_bytes(b"\0" * 700), ValueError, 1412)])
def test_library_failures_are_kiv_errors_with_their_number(tmp_path, setup, kind, number):
    setup(tmp_path / "f.kiv")
    with pytest.raises(kind) as e:
        kivf.read(tmp_path / "f.kiv")
    assert isinstance(e.value, kivf.KivError) and e.value.number == number
    assert str(e.value).startswith(f"ERROR {number}: ") and str(tmp_path / "f.kiv") in str(e.value)
    with pytest.raises(kivf.KivOSError) as e:
        kivf.write(tmp_path / "no" / "w.kiv", [1.0])
    assert e.value.number == 101 and isinstance(e.value, OSError)


@pytest.mark.parametrize("change, order, lengths", [
    ({}, "ab", [20]), (dict(b=0.4), "ab", [20]), (dict(b=-0.4), "ba", [20]),
    (dict(b=0.5), "ab", [10, 10]), (dict(b=1.0), "ab", [10, 10]), (dict(b=-5.0), "ab", [10, 10]),
    (dict(delta=0.5, b=0.0), "ab", [10, 10]), (dict(kstnm="HRV"), "ab", [10, 10]),
    (dict(kcmpnm="BHN"), "ab", [10, 10]), (dict(knetwk="XX"), "ab", [10, 10])])
def test_merge(tmp_path, change, order, lengths):
    f = dict(delta=1.0, b=0.0, kstnm="ANMO", kcmpnm="BHZ", knetwk="IU")
    a = trace(tmp_path, np.arange(10.0), "a.kiv", **f)
    b = trace(tmp_path, np.arange(10.0, 20.0), "b.kiv", **{**f, "nzsec": 10, **change})
    m = kivf.merge([a, b] if order == "ab" else [b, a])
    assert [len(t.data) for t in m] == lengths and m[0].starttime == a.starttime
    if lengths == [20]:
        assert np.array_equal(m[0].data, np.arange(20.0)) and m[0].header["NPTS"] == 20
        assert (m[0].header["E"], m[0].header["DEPMEN"], str(m[0].endtime)[11:]) == (
            19.0, 9.5, "00:00:19.000000")
    else:
        assert m[0] is (a if order == "ab" else b) and m[1] is (b if order == "ab" else a)


def test_read_lists_and_patterns(tmp_path):
    for k in (2, 0, 1):
        trace(tmp_path, np.arange(3600.0), f"h{k}.kiv", delta=1.0, b=0.0, nzhour=k, kstnm="A")
    trace(tmp_path, [1.0], "a[1].kiv", delta=1.0, b=0.0)
    one = kivf.read(tmp_path / "h1.kiv")
    lst = kivf.read((tmp_path / "h2.kiv", f"{tmp_path}/h0.kiv"))
    pat, merged = kivf.read(f"{tmp_path}/h*.kiv"), kivf.read(f"{tmp_path}/h?.kiv", merge=True)
    assert isinstance(one, kivf.Trace) and [t.header["NZHOUR"] for t in lst] == [2, 0]
    assert [t.header["NZHOUR"] for t in pat] == [0, 1, 2] and [len(t.data) for t in merged] == [
        10800]
    for name in (tmp_path / "a[1].kiv", f"{tmp_path}/a[1].kiv"):  # a Path, or a name that exists
        assert len(kivf.read(name).data) == 1
    text = re.escape(f"no file matches {tmp_path}/b[1].kiv")
    with pytest.raises(kivf.KivFileNotFoundError, match=f"^{text}$") as e:
        kivf.read(f"{tmp_path}/b[1].kiv")
    assert e.value.number is None and isinstance(e.value, FileNotFoundError)


def test_version_and_docstrings():
    cmake = pathlib.Path(SRC, "CMakeLists.txt").read_text()
    project = re.search(r"project\(kivf VERSION (\S+)", cmake)
    assert kivf.__version__ == project.group(1)
    functions = {n: f for n, f in vars(kivf._kivf).items()
                 if callable(f) and not isinstance(f, type)}
    assert {"read", "write", "header", "listing", "sphgeo"} <= set(functions)
    assert [n for n, f in functions.items() if f.__doc__.count("\n") < 2] == []  # not bare


@pytest.mark.parametrize("fields, shown", [
    (dict(kstnm="  AB "), dict(KSTNM="AB")),  # texts read back stripped at both ends
    (dict(kevnm="ABC"), dict(KEVNM="ABC")),  # its second half empty
    (dict(kevnm="-12345  abcdefgh"), dict(KEVNM="-12345  abcdefgh")),  # its first half "undefined"
    (dict(ihdr20=999), dict(IHDR20=999))])  # the last enumerated slot
def test_header_fields_read_back(tmp_path, fields, shown):
    h = trace(tmp_path, [1.0], **fields).header
    assert {k: h[k] for k in shown} == shown
