# SPDX-License-Identifier: Apache-2.0
"""The kivf package against the converter, the header lister and the plug-in."""
import errno
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import kivf
from kivf import __main__ as cli

BIN, SRC = os.environ.get("KIVF_BINARY_DIR", ""), os.environ.get("KIVF_SOURCE_DIR", "")
COUNTS = np.array([0, 1, -1, 2**31 - 1, -2**31, 123456789, 16777217], np.int32)


def bits(a):
    return np.ascontiguousarray(a).view(np.uint32 if a.dtype == np.float32 else np.uint64)


def catalogue(number):
    return next(l[5:-1] for l in open(f"{SRC}/kivaux/messages") if l[:4].strip() == str(number))


def kivhdr(*args):
    return subprocess.run([f"{BIN}/kivhdr/kivhdr", *map(str, args)], capture_output=True)


@pytest.fixture(scope="module")  # a file the converter writes from known counts
def conv(tmp_path_factory):
    d = tmp_path_factory.mktemp("conv")
    COUNTS.tofile(d / "a.w")
    (d / "a.wfdisc").write_text("2015069 1425997327.325 ANMO BHZ 7 20.0 1.0 1.0 STS-2 o s4 - "
                                "5492 918 . a.w 0 -1 2015-03-12 IU quiet\n")
    subprocess.run([f"{BIN}/wfdxlate/wfdxlate"], input="a.wfdisc\n", cwd=d, text=True, check=True,
                   capture_output=True, env={**os.environ, "KIVAUX": f"{SRC}/kivaux"})
    return d / "a.w.kiv"


def test_read_converted_in_either_byte_order_and_info_as_kivhdr(conv, tmp_path, capfd):
    w = np.fromfile(conv, np.uint32)
    w[:110], w[158:] = w[:110].byteswap(), w[158:].byteswap()  # never the text
    w.tofile(tmp_path / "s.kiv")
    t, s, c = kivf.read(conv), kivf.read(tmp_path / "s.kiv"), COUNTS.astype(np.float32)
    assert (t.swapped, s.swapped, t.x, s.x, s.header) == (False, True, None, None, t.header)
    assert np.array_equal(bits(t.data), bits(c)) and np.array_equal(bits(s.data), bits(c))
    assert t.starttime == np.datetime64("2015-03-10T14:22:07.325") and t.stats() == (
        c.min(), c.max(), c.mean(dtype=float)) and list(t.times()) == [0, 0.05, 0.1, 0.15, 0.2, 0.25, 0.3]
    s.write(tmp_path / "w.kiv")  # the header as read, not the one last written
    assert (tmp_path / "w.kiv").read_bytes() == conv.read_bytes()
    assert cli.main(["info", str(conv)]) == 0
    assert capfd.readouterr().out.encode() == kivhdr(conv).stdout


def test_write_read_round_trip(tmp_path, capfd, monkeypatch):
    monkeypatch.chdir(tmp_path)
    y, x = np.array([0.1, -2.5e38, 3e-45, 7.0, -0.0]), np.array([0, 1, 3, 7, 15], np.int16)
    kivf.write("a.kiv", y, x=x, delta=0.25, b=-1.5, kstnm="HRV", Kcmpnm="LHZ",
               kevnm="sixteen chars!!x", nzyear=1999, nzjday=365, nzhour=23, nzmin=59, nzsec=59,
               nzmsec=999, idep="IVEL", iftype="ixyz", iqual=45, isynth=52, ievtyp=0, lpspol=1,
               nxsize=2**31 - 1, nysize=-2**31, user9=np.float32(2.5), fhdr70=0.75, lovrok=False,
               lcalda=np.int8(0), user8=-0.0, nhdr15=-7)
    raw = open("a.kiv", "rb").read()
    words, ints = np.frombuffer(raw, np.float32), np.frombuffer(raw, np.int32)
    assert np.array_equal(bits(words[158:]), bits(np.concatenate([y, x]).astype(np.float32)))
    assert [ints[w] for w in (79, 84, 85, 86, 93, 94, 105, 106, 107, 108)] == [5, -7, 51, 7, 45, 52, 0, 1, 0, 0]
    assert words[69] == 0.75  # the last floating field
    assert raw[440:464] == b"HRV     sixteen chars!!x" and raw[600:608] == b"LHZ     "
    t = kivf.read("a.kiv")
    assert np.array_equal(t.times(), [1.5, 2.5, 4.5, 8.5, 16.5])
    assert t.starttime == np.datetime64("1999-12-31T23:59:58.499")
    assert [t.header[k] for k in ("KEVNM", "IDEP", "IFTYPE", "ISYNTH", "IEVTYP", "NXSIZE", "NYSIZE")
            ] == ["sixteen chars!!x", "IVEL", "IXYZ", 52, 0, 2**31 - 1, -2**31]
    t.write("b.kiv")
    pickle.loads(pickle.dumps(t)).write("p.kiv")  # a trace sent to another process
    kivf.write("c.kiv", t.data, x=t.x, **t.header)
    kivf.write("e.kiv", [])
    kivf.write("m.kiv", [np.float64(3.4028235e38)], scale=-3.4028235e38)  # the largest float32
    assert [open(f, "rb").read() for f in ("b.kiv", "c.kiv", "p.kiv")] == [raw] * 3
    assert kivf.read("e.kiv").data.size == 0 and os.path.getsize("e.kiv") == 632
    with pytest.raises(kivf.KivOSError, match=f"^ERROR  101: {catalogue(101)} no/w.kiv") as e:
        kivf.write("no/w.kiv", [1.0])
    assert e.value.number == 101 and isinstance(e.value, OSError)
    assert capfd.readouterr() == ("", "")



@pytest.mark.parametrize("make, kind, number", [
    (lambda p, c: None, FileNotFoundError, 1410), (lambda p, c: p.mkdir(), OSError, 1411),
    (lambda p, c: p.write_bytes(b"\0" * 632), ValueError, 1412)])  # kivhdr_test has the others
def test_read_refusals_are_kiv_errors_as_kivhdr_says(conv, tmp_path, capfd, make, kind, number):
    make(p := tmp_path / "f.kiv", conv)
    with pytest.raises(kind) as e:
        kivf.read(p)
    assert isinstance(e.value, kivf.KivError) and e.value.number == number
    assert getattr(e.value, "errno", None) == (errno.ENOENT if number == 1410 else None)  # the system's only
    assert str(e.value).startswith(f"ERROR {number:4d}: {catalogue(number)} {p}")
    assert capfd.readouterr() == ("", "") and cli.main(["info", str(p)]) == 2
    assert capfd.readouterr().err == kivhdr(p).stderr.decode().replace("kivhdr:", "kivf info:")


@pytest.mark.parametrize("data, fields, error, text", [
    ([1.0], dict(xminimum2=1.0), ValueError, "no header field named xminimum2"),  # not cut to 8
    ([1.0], dict(nzyear=2.0), TypeError, "nzyear: takes an int"),
    ([1.0], dict(lpspol="no"), TypeError, "lpspol: takes a bool"),
    ([1.0], dict(lpspol=2), ValueError, "lpspol: 2 is neither 0 nor 1"),
    ([1.0], dict(nzyear=True), TypeError, "nzyear: takes an int"),
    ([1.0], dict(idep=1.0), TypeError, "idep: takes a value name (str) or an int"),
    ([1.0], dict(delta=True), TypeError, "delta: a floating field takes a real number"),
    ([1.0], dict(delta=10**400), ValueError, "delta: 1e+400 is beyond float32's range"),
    ([1.0], dict(nvhdr=7), ValueError, "nvhdr: 7 is not 6, the header version written"),
    ([1.0], dict(kstnm="A" * 9), ValueError, "kstnm: 'AAAAAAAAA' is longer than 8 characters"),
    ([1.0], dict(kstnm="AB\0CD"), ValueError, "kstnm: 'AB\\x00CD' holds a NUL character"),
    ([1.0], dict(kstnm="\u20ac"), ValueError, "kstnm: '\u20ac' holds a character outside Latin-1"),
    ([1.0], dict(idep="IVELO"), ValueError, "idep: no enumerated value is named IVELO"),
    ([1.0], dict(nzyear=2**31), ValueError, "nzyear: 2147483648 does not fit in 32 bits"),
    ([1.0], dict(scale=3.5e38), ValueError, "scale: 3.5e+38 is beyond float32's range"),
    ([1.0, 3.5e38], {}, ValueError, "data[1] = 3.5e+38 is beyond float32's range"),
    ([[1.0]], {}, ValueError, "data must be 1-D, not 2-D"),
    ([1.0], dict(x=[1.0, 2.0]), ValueError, "x and the samples differ in length")])
def test_write_refusals(tmp_path, capfd, data, fields, error, text):
    with pytest.raises(error) as e:
        kivf.write(tmp_path / "w.kiv", data, **fields)
    assert type(e.value) is error and str(e.value) == text  # not a subclass such as OverflowError
    assert not (tmp_path / "w.kiv").exists() and capfd.readouterr() == ("", "")


@pytest.mark.parametrize("path, why", [
    ("a.kiv ", "ends in a blank"), ("", "is empty"), ("a\0b", "holds a NUL character")])
def test_paths_used_as_given_or_refused(tmp_path, capfd, monkeypatch, path, why):
    monkeypatch.chdir(tmp_path)
    kivf.write("a.kiv", [1.0])
    t, before, text = kivf.read("a.kiv"), open("a.kiv", "rb").read(), f"file name {path!r} {why}"
    for call in (lambda: kivf.read(path), lambda: kivf.write(path, [2.0]), lambda: t.write(path)):
        with pytest.raises(ValueError) as e:
            call()
        assert type(e.value) is ValueError and str(e.value) == text
    assert cli.main(["info", path]) == 2 and capfd.readouterr() == ("", f"kivf info: {text}\n")
    assert os.listdir() == ["a.kiv"] and open("a.kiv", "rb").read() == before


@pytest.mark.parametrize("year, day, start", [
    (1600, 60, "1600-02-29"), (20000, 366, "20000-12-31"), (2**31 - 1, 1, "NaT"),
    (-2**31, 1, "NaT"), (292278994, 2**31 - 1, "NaT")])
def test_starttime_exact_or_nat(tmp_path, year, day, start):
    kivf.write(tmp_path / "t.kiv", [1.0], nzyear=year, nzjday=day, nzhour=0, nzmin=0, nzsec=0,
               nzmsec=0)
    assert str(kivf.read(tmp_path / "t.kiv").starttime) == (
        start if start == "NaT" else start + "T00:00:00.000000")


def test_sphgeo_as_stated_in_the_shape_of_slat():  # (0, 10): coincident, IEEE results kept
    got = kivf.sphgeo([[0], [0]], [[0], [10]], 0, np.float32(10))
    assert [g.shape for g in got] == [(2, 1)] * 4 and np.allclose(np.reshape(got, (4, 2)), [
        [9.999998556, 0], [1111.949106, 0], [270, np.nan], [90, np.nan]], rtol=0, atol=5e-7,
        equal_nan=True)  # the distance as from (0, 10) to (0, 0)


@pytest.mark.parametrize("args, error", [
    (([1j], [0.0], 0, 0), "slat must be real numbers"),
    (([0.0], np.array([0.0], object), 0, 0), "slon must be real numbers"),
    (([0.0], [0.0], [10, 11], 20), "elat and elon must be one event position")])
def test_sphgeo_refusals(args, error):
    with pytest.raises(ValueError if "event" in error else TypeError, match=f"^sphgeo: {error}"):
        kivf.sphgeo(*args)


@pytest.mark.parametrize("args, out, status, err", [
    ("info {conv}", "full", 2, "kivf info: cannot write standard output: No space left on device"),
    ("plot {conv} -o /dev/full", "null", 2, "kivf plot: /dev/full: No space left on device"),
    ("plot {conv} -o x.xyz", "null", 1, "kivf plot: x.xyz: no format named xyz (formats: eps, ")])
def test_cli_output_failures_in_one_line(conv, tmp_path, args, out, status, err):
    with open("/dev/full" if out == "full" else os.devnull, "wb") as f:
        r = subprocess.run([sys.executable, "-m", "kivf", *args.format(conv=conv).split()],
                           stdout=f, stderr=subprocess.PIPE, cwd=tmp_path, text=True)
    assert (r.returncode, r.stderr[:len(err)], r.stderr.count("\n")) == (status, err, 1)




POS, FOUR = dict(stla=34.9459, stlo=-106.4572, evla=38.3, evlo=142.4), "GCARC DIST AZ BAZ".split()


@pytest.mark.parametrize("change, want", [  # s: sphgeo's, as float32; g: as given; -: undefined
    ({}, "ssss"), (dict(gcarc=1.5, baz=-7.25), "gssg"), (dict(lcalda=False), "----"),
    (dict(evlo=None), "----"), (dict(stla=np.nan), "----"),
    (dict(stla=0.0, stlo=10.0, evla=0.0, evlo=10.0), "ss--")])  # one place: no azimuths
def test_write_fills_distances_as_sphgeo_and_info_shows_them(tmp_path, capfd, change, want):
    f = {k: v for k, v in {**POS, **change}.items() if v is not None}
    kivf.write(p := tmp_path / "d.kiv", [1.0], stel=1850.0, **f)
    t, pos = kivf.read(p), [np.float32(f.get(k, np.nan)) for k in POS]
    r = np.float32(kivf.sphgeo(*pos))
    expect = [{"s": float(v), "g": f.get(k.lower()), "-": None}[c]
              for k, v, c in zip(FOUR, r, want)]
    assert t.distance == (None if expect[0] is None else tuple(expect))
    assert cli.main(["info", str(p)]) == 0
    shown = dict(l.split(None, 1) for l in capfd.readouterr().out.splitlines())
    assert [float(np.float32(shown[k])) if k in shown else None for k in FOUR] == expect
    assert t.station_position[1:] == (float(pos[1]), 1850.0, None)
    assert t.event_position == (None if "evlo" not in f else (float(pos[2]), float(pos[3]), None))
