# SPDX-License-Identifier: Apache-2.0
"""miniSEED in kivf: files read as msxlate converts them, traces written as records; KIV and
miniSEED files from many threads at once."""
import datetime as dt
import os
import struct
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kivf

BIN, SRC = os.environ.get("KIVF_BINARY_DIR", ""), os.environ.get("KIVF_SOURCE_DIR", "")
needs = pytest.mark.skipif(not kivf._kivf.mseed, reason="kivf was built without libmseed")
T0 = 1425997327325123  # 2015-03-10T14:22:07.325123, in microseconds
BIG = [0, -1, 2**31 - 1, -2**31, 16777217, 123456789]  # not all of them float32s


def record(seq, start, samples, cha="BHZ", sta="ANMO", net="IU", loc="00", rate=20, count=None):
    """A 512-byte miniSEED 2 record laid out here from the format: the fixed header, blockettes
    1000 (int32 or float32, big-endian) and 1001 (the microseconds), then the samples."""
    a = np.asarray(samples)
    enc, data = (4, a.astype(">f4")) if a.dtype.kind == "f" else (3, a.astype(">i4"))
    t = dt.datetime(1970, 1, 1) + dt.timedelta(microseconds=start)
    tenths, us = divmod(t.microsecond, 100)
    codes = [c.encode().ljust(n) for c, n in ((sta, 5), (loc, 2), (cha, 3), (net, 2))]
    head = struct.pack(">6s2s5s2s3s2sHHBBBxHHhhBBBBiHH", b"%06d" % seq, b"D ", *codes, t.year,
                       t.timetuple().tm_yday, t.hour, t.minute, t.second, tenths,
                       a.size if count is None else count, rate, 1, 0, 0, 0, 2, 0, 64, 48)
    rec = head + struct.pack(">HHBBBxHHBbxx", 1000, 56, enc, 1, 9, 1001, 0, 0, us) + data.tobytes()
    return rec + bytes(512 - len(rec))


def us(t):
    return int(t.astype("datetime64[us]").astype(np.int64))


def got(t):  # a trace bit for bit: header fields (numbers as bytes), samples, x
    return ({k: v.tobytes() if isinstance(v, np.generic) else v for k, v in t.header.items()},
            t.data.tobytes(), None if t.x is None else t.x.tobytes())


def catalogue(number):
    return next(l[5:-1] for l in open(f"{SRC}/kivaux/messages") if l[:4].strip() == str(number))


@needs
def test_channels_and_gaps_as_the_records_say_whatever_the_name_and_order_as_msxlate(tmp_path):
    y = np.array(BIG * 20 + list(range(80)))
    ms = [record(3, T0 + 20_000_000, [4.5, -0.0]), record(2, T0 + 5_000_000, y[100:]),
          record(4, T0, [7, 8, 9], cha="BHE"), record(1, T0, y[:100]),  # 10 s after: a gap
          record(5, T0 + 17, [5.5] * 7, cha="LHZ", rate=1)]
    (p := tmp_path / "a.kiv").write_bytes(b"".join(ms))
    e, z, late, lhz = traces = kivf.read(p)  # by channel, then time
    assert np.array_equal(z.data.view(np.uint32), y.astype(np.float32).view(np.uint32))
    assert [us(t.starttime) for t in (z, late, lhz)] == [T0, T0 + 20_000_000, T0 + 17]
    subprocess.run([f"{BIN}/msxlate/msxlate", "-q", "-o", tmp_path / "out", p], check=True,
                   env={**os.environ, "KIVAUX": f"{SRC}/kivaux"})
    converted = kivf.read(sorted(tmp_path.glob("out/*.kiv")))
    key = lambda t: (t.header["KCMPNM"], us(t.starttime))
    assert [got(t) for t in traces] == [got(t) for t in sorted(converted, key=key)]


@needs
def test_merge_and_glob_take_kiv_and_miniseed_files_alike(tmp_path):
    (ms := tmp_path / "a.dat").write_bytes(record(1, T0, range(100)) +
                                           record(2, T0, range(50), cha="BHN"))
    # A KIV file of the same channel where the miniSEED one ends, 5 s later.
    kivf.write(kv := tmp_path / "b.mseed", np.arange(100, 150), delta=0.05, b=0.000123,
               nzyear=2015, nzjday=69, nzhour=14, nzmin=22, nzsec=12, nzmsec=325,
               knetwk="IU", kstnm="ANMO", khole="00", kcmpnm="BHZ")
    assert isinstance(kivf.read(kv), kivf.Trace)  # one KIV file, one Trace, whatever its name
    z, n = kivf.read([kv, ms], merge=True)
    assert (z.header["KCMPNM"], list(z.data), us(z.starttime)) == ("BHZ", list(range(150)), T0)
    assert (n.header["KCMPNM"], list(n.data)) == ("BHN", list(range(50)))


@needs
@pytest.mark.parametrize("head, number", [
    (b"000001D ", 2053), (b" \0 0 9M\0", 2053),  # miniSEED, cut short
    (b"000001DX", 1412), (b"00000AD ", 1412), (b"X00001D ", 1412)])  # not: KIV, or nothing
def test_a_miniseed_file_is_told_by_its_first_bytes(tmp_path, head, number):
    (p := tmp_path / "f.mseed").write_bytes(head + bytes(700))
    with pytest.raises(kivf.KivValueError) as e:
        kivf.read(p)
    assert e.value.number == number


@needs
def test_a_refused_record_refuses_the_file(tmp_path, capfd):
    (p := tmp_path / "r.mseed").write_bytes(record(1, T0, [1] * 10) +
                                            record(2, T0 + 500_000, [1] * 112, count=113))
    with pytest.raises(kivf.KivValueError) as e:
        kivf.read([p])
    assert e.value.number == 2066
    said = str(e.value).replace("\n", " ")  # the message's lines
    assert said.startswith(f"ERROR 2066: {catalogue(2066)} {p} at byte 512")
    assert capfd.readouterr() == ("", "")


@needs
def test_notes_are_warnings_at_the_callers_line(tmp_path):
    (p := tmp_path / "twice.mseed").write_bytes(record(1, T0, [3] * 100) * 2)
    with pytest.warns(kivf.KivWarning, match=f"^NOTE 2068: {catalogue(2068)} {p} at byte 512") as w:
        traces = kivf.read(p)
    assert [list(t.data) for t in traces] == [[3] * 100] and w[0].filename == __file__
    # A segment whose samples are all in another one (the first record: 10 samples from 0.5 s).
    (q := tmp_path / "inside.mseed").write_bytes(record(1, T0 + 500000, [3] * 10) + record(2, T0, [3] * 100))
    with pytest.warns(kivf.KivWarning, match=f"^NOTE 2065: {catalogue(2065)} {q} "):
        assert [len(t.data) for t in kivf.read(q)] == [100]


def records(raw, reclen):
    """(sequence number, quality, encoding, word order, length exponent) of each record."""
    for at in range(0, len(raw), reclen):
        r = raw[at:at + reclen]
        b = struct.unpack(">H", r[46:48])[0]
        while 48 <= b <= reclen - 8 and struct.unpack(">H", r[b:b + 2])[0] != 1000:
            b = struct.unpack(">H", r[b + 2:b + 4])[0]
        assert 48 <= b <= reclen - 8, f"no blockette 1000 in the record at byte {at}"
        yield int(r[:6]), r[6:7], r[b + 4], r[b + 5], r[b + 6]


def kiv(path, y, **fields):  # a KIV file of station S, channel Z, from 2020-01-01
    kivf.write(path, y, **{**dict(delta=1, b=0, nzyear=2020, nzjday=1, nzhour=0, nzmin=0,
                                  nzsec=0, nzmsec=0, kstnm="S", kcmpnm="Z"), **fields})


@needs
def test_written_and_read_back(tmp_path):
    wide = np.float32([0, -1, 2**30, -2**31, 16777216] * 300)  # whole, far apart: int32
    floats = np.float32([0.1, np.nan, -0.0, np.inf, 3e-45] * 40)
    near = np.arange(-1500, 1500, 3, dtype=np.float32)  # whole, close together: Steim-2
    kiv(a := tmp_path / "a.kiv", wide, delta=0.01, b=0.000456, nzjday=60, nzhour=23, nzmin=59,
        nzsec=59, nzmsec=999, kstnm="KONO", khole="10")
    kiv(b := tmp_path / "b.kiv", floats, delta=0.5, nzyear=1999, kstnm="X", knetwk="GE")
    kiv(c := tmp_path / "c.kiv", near, delta=0.025, b=-1.5, nzyear=2100, nzsec=2, knetwk="AA")
    traces = kivf.read([a, b, c])
    kivf.write_mseed(p := tmp_path / "w.mseed", traces, reclen=256, quality="Q", network="XX")
    raw = p.read_bytes()
    heads = list(records(raw, 256))
    assert {h[1] + bytes(h[3:]) for h in heads} == {b"Q\x01\x08"}  # big-endian, 2**8 bytes
    back = kivf.read(p)  # in the codes' order
    assert [(t.header["KNETWK"], t.header["KSTNM"], t.header.get("KHOLE")) for t in back] == [
        ("AA", "S", None), ("GE", "X", None), ("XX", "KONO", "10")]
    for t, w in zip(traces[::-1], back):
        assert (t.data.tobytes(), t.starttime, t.delta) == (w.data.tobytes(), w.starttime, w.delta)
    traces[1].write(q := tmp_path / "t.mseed", format="mseed", encoding="float64")
    assert {h[2] for h in records(q.read_bytes(), 512)} == {5}
    assert kivf.read(q)[0].data.tobytes() == floats.tobytes()


@needs
@pytest.mark.parametrize("y, fields, options, error, number", [
    ([1, 2], dict(x=[0, 3]), {}, kivf.KivValueError, 2080),
    ([1, 40000], {}, dict(encoding="int16"), kivf.KivValueError, 2087),
    ([1, 2], {}, dict(location="LONG"), kivf.KivValueError, 2084),
    ([1, 2], {}, dict(encoding="steim3"), ValueError, None),
    ([1, 2], {}, dict(quality="X"), ValueError, None),
    ([1, 2], {}, dict(reclen=500), ValueError, None),
    (None, {}, {}, ValueError, None)])  # no traces at all
def test_a_refusal_leaves_the_file_as_it_was(tmp_path, monkeypatch, y, fields, options, error,
                                             number):
    monkeypatch.chdir(tmp_path)
    kiv("ok.kiv", [1, 2])
    kiv("u.kiv", y or [1], **fields)
    (tmp_path / "w.mseed").write_bytes(b"old")
    with pytest.raises(error) as e:
        kivf.write_mseed("w.mseed", [] if y is None else kivf.read(["ok.kiv", "u.kiv"]),
                         **options)
    assert e.value.number == number if number else not isinstance(e.value, kivf.KivError)
    assert sorted(os.listdir()) == ["ok.kiv", "u.kiv", "w.mseed"]
    assert (tmp_path / "w.mseed").read_bytes() == b"old"


def test_a_thread_pool_reads_and_writes_as_one_thread_does(tmp_path):
    rng, paths = np.random.default_rng(11), [tmp_path / f"f{i:04d}.kiv" for i in range(1000)]
    for i, p in enumerate(paths):
        y = rng.normal(0, 1e3, 1 + i % 97).astype(np.float32)
        x = np.cumsum(rng.random(y.size)).astype(np.float32) if i % 5 == 0 else None
        kivf.write(p, y, x=x, delta=0.01, b=i / 8, kstnm=f"S{i}", nzyear=2020, nzjday=1 + i % 365)
    for i in range(200 if kivf._kivf.mseed else 0):  # miniSEED files: read one at a time
        paths.append(p := tmp_path / f"{i}.mseed")
        p.write_bytes(b"".join(record(k, T0 + k * 10**6, np.arange(i, i + 20) * k)
                               for k in range(1, 2 + i % 6)))

    def back(p):
        r = kivf.read(p)
        return [got(t) for t in r] if isinstance(r, list) else got(r)

    def copy(i):  # read, written again under another name, read back
        if paths[i].suffix == ".mseed":
            return back(paths[i])
        kivf.read(paths[i]).write(tmp_path / f"c{i:04d}.kiv")
        return back(tmp_path / f"c{i:04d}.kiv")
    serial = [back(p) for p in paths]
    with ThreadPoolExecutor(8) as pool:
        assert list(pool.map(back, paths)) == serial
        assert list(pool.map(copy, range(len(paths)))) == serial


@pytest.mark.skipif(kivf._kivf.mseed, reason="kivf was built with libmseed")
def test_without_libmseed_miniseed_is_refused_naming_it(tmp_path):
    (p := tmp_path / "a.mseed").write_bytes(record(1, T0, [1]))
    with pytest.raises(kivf.KivValueError, match="built without libmseed"):
        kivf.read(p)
    kivf.write(tmp_path / "a.kiv", [1.0])
    with pytest.raises(NotImplementedError, match="built without libmseed"):
        kivf.write_mseed(tmp_path / "w.mseed", kivf.read(tmp_path / "a.kiv"))


@needs
def test_a_write_cut_short_by_one_byte_fails_and_leaves_nothing(tmp_path):
    """The size limit one byte short of the file: the last write comes up short by one byte."""
    import resource
    kiv(a := tmp_path / "a.kiv", np.float32(np.arange(300)), delta=0.01)
    t = kivf.read(a)
    kivf.write_mseed(whole := tmp_path / "whole.mseed", t)
    size = whole.stat().st_size
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size - 1, hard))  # SIGXFSZ: Python ignores it
    try:
        with pytest.raises(kivf.KivOSError) as e:
            kivf.write_mseed(tmp_path / "cut.mseed", t)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
    assert e.value.number == 115 and "cut.mseed (File too large)" in str(e.value)
    assert sorted(os.listdir(tmp_path)) == ["a.kiv", "whole.mseed"]


@needs
def test_written_whole_with_standard_input_closed(tmp_path):
    """With descriptor 0 free, the temporary file takes it: still every byte is written."""
    kiv(tmp_path / "a.kiv", np.float32(np.arange(3000)), delta=0.01)
    code = ("import os, kivf; os.close(0); "
            "kivf.write_mseed('w.mseed', kivf.read('a.kiv'), reclen=256)")
    subprocess.run(["/usr/bin/python3", "-c", code], cwd=tmp_path, check=True,
                   env=dict(os.environ))
    kivf.write_mseed(tmp_path / "x.mseed", kivf.read(tmp_path / "a.kiv"), reclen=256)
    assert (tmp_path / "w.mseed").read_bytes() == (tmp_path / "x.mseed").read_bytes()
