"""kivf's header floats, filled header fields, errors and version."""
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
    assert t.times()[-1] == D25 * 143999  # 54 us past 0.025 s


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


def test_version_and_docstrings():
    cmake = pathlib.Path(SRC, "CMakeLists.txt").read_text()
    project = re.search(r"project\(kivf VERSION (\S+)", cmake)
    assert kivf.__version__ == project.group(1)
    functions = {n: f for n, f in vars(kivf._kivf).items()
                 if callable(f) and not isinstance(f, type)}
    assert {"read", "write", "header", "listing", "sphgeo"} <= set(functions)
    assert [n for n, f in functions.items() if f.__doc__.count("\n") < 2] == []  # more than signatures
