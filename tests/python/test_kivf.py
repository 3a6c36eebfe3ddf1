"""The kivf package against the converter, the header lister and the plug-in."""
import os
import shutil
import struct
import subprocess

import numpy as np
import pytest

import kivf
from kivf import __main__ as cli

BIN = os.environ.get("KIVF_BINARY_DIR", "")
SRC = os.environ.get("KIVF_SOURCE_DIR", "")
COUNTS = np.array([0, 1, -1, 2**31 - 1, -2**31, 123456789, 16777217], np.int32)


def bits(a):
    return np.ascontiguousarray(a).view(np.uint32 if a.dtype == np.float32 else np.uint64)


def catalogue(number):
    for line in open(f"{SRC}/kivaux/messages"):
        if line[:4].strip() == str(number):
            return line[5:].rstrip("\n")


@pytest.fixture(scope="module")
def conv(tmp_path_factory):
    """A file written by wfdxlate from known counts."""
    d = tmp_path_factory.mktemp("conv")
    COUNTS.tofile(d / "a.w")
    (d / "a.wfdisc").write_text("2015069 1425997327.325 ANMO BHZ 7 20.0 1.0 1.0 STS-2 o s4 - "
                                "5492 918 . a.w 0 -1 2015-03-12 IU quiet\n")
    r = subprocess.run([f"{BIN}/wfdxlate/wfdxlate"], input="a.wfdisc\n", cwd=d, text=True,
                       capture_output=True, env={**os.environ, "KIVAUX": f"{SRC}/kivaux"})
    assert r.returncode == 0, r.stdout
    return d / "a.w.kiv"


def kivhdr(*args):
    return subprocess.run([f"{BIN}/kivhdr/kivhdr", *map(str, args)], capture_output=True)


def test_read_converted(conv):
    t = kivf.read(conv)
    assert t.data.dtype == np.float32 and t.x is None and not t.swapped
    assert np.array_equal(bits(t.data), bits(COUNTS.astype(np.float32)))
    h = t.header
    assert (h["NPTS"], h["DELTA"], h["KSTNM"], h["KCMPNM"], h["KUSER1"]) == (
        7, 0.05, "ANMO", "BHZ", "quiet")
    assert t.delta == 0.05 and t.starttime == np.datetime64("2015-03-10T14:22:07.325")
    assert np.array_equal(t.times(), np.arange(7) * 0.05)
    f = COUNTS.astype(np.float32).astype(np.float64)
    assert t.stats() == (f.min(), f.max(), f.mean())


def test_header_as_kivhdr_shows_it(conv):
    h = kivf.read(conv).header
    lines = kivhdr("--all", "--", conv).stdout.decode().splitlines()[2:]
    checked = 0
    for line in lines:
        name, val = line[:8].strip(), line[10:]
        if name.startswith("KZ") or name.endswith("MARKER"):
            continue  # derived from fields, not fields
        if val == "undefined":
            assert name not in h, name
            continue
        got = h[name]
        want = {bool: lambda: val == "true", int: lambda: int(val), float: lambda: float(val),
                str: lambda: val.split()[0] if name[0] == "I" else val}[type(got)]()
        assert got == want, name
        checked += 1
    assert checked == 9


def test_other_byte_order(conv, tmp_path, capfd):
    w = np.fromfile(conv, np.uint32)
    w[:110] = w[:110].byteswap()  # numeric header words and samples; never the text
    w[158:] = w[158:].byteswap()
    w.tofile(tmp_path / "s.kiv")
    a, b = kivf.read(conv), kivf.read(tmp_path / "s.kiv")
    assert b.swapped and b.header == a.header
    assert np.array_equal(bits(a.data), bits(b.data))
    assert cli.main(["info", str(conv)]) == 0
    assert capfd.readouterr().out.encode() == kivhdr(conv).stdout


def test_write_read_round_trip(tmp_path, capfd):
    y = np.array([0.1, -2.5e38, 3e-45, 7.0, -0.0])  # float64: rounded to float32 on the way
    x = np.array([0, 1, 3, 7, 15], np.int16)
    fields = dict(delta=0.25, b=-1.5, kstnm="HRV", Kcmpnm="LHZ", kevnm="sixteen chars!!x",
                  nzyear=1999, nzjday=365, nzhour=23, nzmin=59, nzsec=59, nzmsec=999,
                  idep="IVEL", iftype="ixyz", iqual=45, isynth=52, lpspol=True,
                  user9=np.float32(2.5))
    kivf.write(tmp_path / "a.kiv", y, x=x, **fields)
    raw = (tmp_path / "a.kiv").read_bytes()
    assert len(raw) == 632 + 8 * 5
    words = np.frombuffer(raw, np.float32)
    assert np.array_equal(bits(words[158:163]), bits(y.astype(np.float32)))
    assert np.array_equal(words[163:], x.astype(np.float32))
    ints = np.frombuffer(raw, np.int32)
    assert [ints[w] for w in (79, 85, 86, 93, 94, 105, 106)] == [5, 51, 7, 45, 52, 0, 1]
    assert raw[440:464] == b"HRV     sixteen chars!!x" and raw[600:608] == b"LHZ     "
    t = kivf.read(tmp_path / "a.kiv")
    assert np.array_equal(t.times(), [1.5, 2.5, 4.5, 8.5, 16.5])
    assert t.starttime == np.datetime64("1999-12-31T23:59:58.499")
    assert [t.header[k] for k in ("KEVNM", "IDEP", "IFTYPE", "ISYNTH")] == [
        "sixteen chars!!x", "IVEL", "IXYZ", 52]
    t.write(tmp_path / "b.kiv")
    kivf.write(tmp_path / "c.kiv", t.data, x=t.x, **t.header)
    assert (tmp_path / "b.kiv").read_bytes() == raw == (tmp_path / "c.kiv").read_bytes()
    kivf.write(tmp_path / "e.kiv", [])
    assert kivf.read(tmp_path / "e.kiv").data.size == 0 and (tmp_path / "e.kiv").stat().st_size == 632
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("content, number, error", [
    (None, 1410, FileNotFoundError),
    (b"\0" * 300, 1413, ValueError),
    (b"\0" * 632, 1412, ValueError),
    ("odd", 1414, ValueError),
], ids=str)
def test_read_refusals(conv, tmp_path, capfd, content, number, error):
    p = tmp_path / "f.kiv"
    if content is not None:
        p.write_bytes(conv.read_bytes() + b"\0" if content == "odd" else content)
    with pytest.raises(error) as e:
        kivf.read(p)
    text = str(e.value)
    assert text.startswith(f"ERROR {number:4d}: {catalogue(number)} {p}")
    assert isinstance(e.value, OSError if number == 1410 else ValueError)
    assert capfd.readouterr() == ("", "")
    assert cli.main(["info", str(p)]) == 2
    assert capfd.readouterr().err == kivhdr(p).stderr.decode().replace("kivhdr:", "kivf info:")


@pytest.mark.parametrize("data, fields, error, text", [
    ([1.0], dict(kstnmx="A"), ValueError, "ERROR 1337: {} kstnmx"),
    ([1.0], dict(nzyear=2.0), TypeError, "nzyear: takes an int"),
    ([1.0], dict(ilist="IVEL"), ValueError, "ERROR 1337: {} ilist"),
    ([1.0], dict(idep="IVELO"), ValueError, "idep: no enumerated value is named IVELO"),
    ([1.0], dict(nzyear=2**31), ValueError, "nzyear: 2147483648 does not fit in 32 bits"),
    ([1.0], dict(scale=3.5e38), ValueError, "scale: 3.5e+38 is beyond float32's range"),
    ([1.0, 3.5e38], {}, ValueError, "data[1] = 3.5e+38 is beyond float32's range"),
    ([[1.0]], {}, ValueError, "data must be 1-D, not 2-D"),
    ([1.0], dict(x=[1.0, 2.0]), ValueError, "x and the samples differ in length"),
])
def test_write_refusals(tmp_path, capfd, data, fields, error, text):
    p = tmp_path / "w.kiv"
    with pytest.raises(error) as e:
        kivf.write(p, data, **fields)
    assert str(e.value) == text.format(catalogue(1337))
    assert not p.exists() and capfd.readouterr() == ("", "")
    kivf.write(p, [np.float64(3.4028235e38)], scale=-3.4028235e38)  # the largest float32
    with pytest.raises(OSError, match=f"^ERROR  101: {catalogue(101)} {tmp_path}/no/w.kiv"):
        kivf.write(tmp_path / "no" / "w.kiv", [1.0])
    assert capfd.readouterr() == ("", "")


def test_sphgeo_bit_for_bit_as_the_plugin(tmp_path):
    if not shutil.which("octave-cli"):
        pytest.skip("octave-cli is not installed: the plug-in cannot be run")
    rng = np.random.default_rng(5)
    slat, slon = rng.uniform(-90, 90, 40000), rng.uniform(-180, 180, 40000)
    slat[:4], slon[:4] = [10, 0, 90, -90], [20, 350, -180, 180]  # coincident, 360-wrap, poles
    np.stack([slat, slon], axis=1).tofile(tmp_path / "in")
    script = (f"addpath('{os.environ['SPHGEO_DIR']}'); x = fread(fopen('{tmp_path}/in'), "
              "[2, Inf], 'double'); [a, b, c, d] = sphgeo(x(1, :), x(2, :), 10, 20); "
              f"f = fopen('{tmp_path}/out', 'w'); fwrite(f, real([a; b; c; d]), 'double');")
    subprocess.run(["octave-cli", "--norc", "--quiet", "--eval", script], check=True)
    want = np.fromfile(tmp_path / "out").reshape(-1, 4).T
    got = kivf.sphgeo(slat.reshape(200, 200), slon.reshape(200, 200), 10, np.float32(20))
    for g, w in zip(got, want):
        assert g.shape == (200, 200) and np.array_equal(bits(g.ravel()), bits(w))
    assert np.isnan(got[2][0, 0]) and got[0][0, 0] == 0.0
    with pytest.raises(ValueError, match="one event position"):
        kivf.sphgeo(slat, slon, [10, 11], 20)


@pytest.mark.parametrize("count", [1, 3])
def test_plot_png(conv, tmp_path, capfd, count):
    files = [str(conv)]
    for k in range(1, count):
        kivf.write(tmp_path / f"{k}.kiv", np.sin(np.arange(500) / (5.0 * k)), delta=0.1,
                   kstnm=f"S{k}", kcmpnm="BHZ", idep="IVEL", nzyear=2015, nzjday=69,
                   nzhour=14, nzmin=22, nzsec=0, nzmsec=0)
        files.append(str(tmp_path / f"{k}.kiv"))
    assert cli.main(["plot", *files, "-o", str(tmp_path / "p.png")]) == 0
    png = (tmp_path / "p.png").read_bytes()
    assert png[:8] == b"\x89PNG\r\n\x1a\n" and png[12:16] == b"IHDR"
    width, height = struct.unpack(">II", png[16:24])
    assert width == 720 and (height > 400 if count == 3 else 150 < height < 250)
    assert capfd.readouterr() == ("", "")
