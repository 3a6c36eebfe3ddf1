# SPDX-License-Identifier: Apache-2.0
"""python3 -m kivf cut and merge: exact windows and joins, output names, refusals."""
import os
import re
from datetime import datetime, timedelta

import numpy as np
import pytest

import kivf
from kivf import __main__ as cli

EPOCH = datetime(1970, 1, 1)
T0 = datetime(2020, 1, 5, 0, 0, 0, 456)  # the microseconds are held by B
HOUR = timedelta(hours=1)
CH = dict(knetwk="IU", kstnm="ANMO", khole="00", kcmpnm="BHZ")


def us(t):
    return (t - EPOCH) // timedelta(microseconds=1)


def name(t, knetwk="IU", kstnm="ANMO", khole="00", kcmpnm="BHZ"):
    return (f"{knetwk}.{kstnm}.{khole}.{kcmpnm}.{t:%Y.%j.%H.%M.%S}.{t.microsecond // 1000:03d}"
            ".kiv")


def put(path, start=T0, n=1000, delta=0.01, y=None, x=None, **codes):
    """A KIV file starting at start: the reference time at its millisecond, B the rest."""
    ref = {} if start is None else dict(
        nzyear=start.year, nzjday=start.timetuple().tm_yday, nzhour=start.hour,
        nzmin=start.minute, nzsec=start.second, nzmsec=start.microsecond // 1000,
        b=start.microsecond % 1000 / 1e6)
    y = np.arange(n, dtype=np.float32) if y is None else y
    fields = {k: v for k, v in {**CH, **codes}.items() if v is not None}
    kivf.write(path, y, x, delta=delta, **ref, **fields)
    return str(path)


def hourly(d, hours, rate):
    rng = np.random.default_rng(rate)
    ys = {h: rng.standard_normal(3600 * rate).astype(np.float32) for h in hours}
    return [put(d / f"h{h}.kiv", T0 + h * HOUR, delta=1 / rate, y=ys[h]) for h in hours], ys


def run(*args):
    try:
        return cli.main([str(a) for a in args])
    except SystemExit as e:  # bad usage
        return e.code


def same(t, y, first_us, step):
    """t holds y bit for bit, sample k at first_us + k * step."""
    assert t.data.dtype == np.float32 and np.array_equal(t.data.view(np.uint32), y.view(np.uint32))
    assert np.array_equal(t.utc_times().astype(np.int64), first_us + step * np.arange(len(y)))


@pytest.mark.parametrize("rate", [100, 40])  # 40 Hz: DELTA 0.025 is not exact in float32
@pytest.mark.parametrize("hours, spans", [([0, 1, 2], [[0, 1, 2]]), ([3, 0, 2], [[0], [2, 3]])])
def test_merge_joins_exactly(tmp_path, capfd, rate, hours, spans):
    files, ys = hourly(tmp_path, hours, rate)
    (out := tmp_path / "out").mkdir()
    (out / name(T0)).write_bytes(b"old" * 1000)  # an existing output: replaced whole
    assert run("merge", "-o", out, *files) == 0 and capfd.readouterr() == ("", "")
    assert sorted(os.listdir(out)) == sorted(name(T0 + s[0] * HOUR) for s in spans)
    for s in spans:
        t = kivf.read(out / name(T0 + s[0] * HOUR))
        same(t, np.concatenate([ys[h] for h in s]), us(T0 + s[0] * HOUR), 10**6 // rate)


@pytest.mark.parametrize("rate", [100, 40])
@pytest.mark.parametrize("merge", [False, True])
@pytest.mark.parametrize("window", [  # (start, end) in samples and microseconds from T0
    ((100, 3), (200, -1)),  # between samples
    ((1, -1), None), (None, (0, 7)),  # from a file's second sample on; its first alone
    (("n", -3), ("n", 2))])  # across the first hour's end
def test_cut_window(tmp_path, capfd, rate, merge, window):
    files, ys = hourly(tmp_path, [0, 1, 2], rate)
    y, n, step, t0 = np.concatenate(list(ys.values())), 3600 * rate, 10**6 // rate, us(T0)
    lo, hi = (None if w is None else step * (w[0] if isinstance(w[0], int) else
                                             n * int(w[0][:-1] or 1)) + w[1] for w in window)
    first = 0 if lo is None else max(0, -(-lo // step))
    last = 3 * n - 1 if hi is None else min(3 * n - 1, hi // step)
    pieces = [(first, last)] if merge else [(max(first, a), min(last, a + n - 1))
                                            for a in range(0, 3 * n, n)]
    pieces = [(a, b) for a, b in pieces if a <= b]
    opts = [*(["--start", np.datetime64(t0 + lo, "us")] if lo is not None else []),
            *(["--end", np.datetime64(t0 + hi, "us")] if hi is not None else [])]
    (out := tmp_path / "out").mkdir()
    assert run("cut", *opts, *(["--merge"] * merge), "-o", out, *files) == 0
    names = [name(EPOCH + timedelta(microseconds=t0 + a * step)) for a, _ in pieces]
    assert sorted(os.listdir(out)) == sorted(names)
    for (a, b), nm in zip(pieces, names):
        same(kivf.read(out / nm), y[a:b + 1], t0 + a * step, step)
    err = capfd.readouterr().err.splitlines()
    assert len(err) == (1 if merge else 3) - len(pieces)  # files the window misses: said, status 0
    assert all(re.fullmatch(r"kivf cut: .*/h\d\.kiv: IU\.ANMO\.00\.BHZ: no sample between .*", e)
               for e in err)


@pytest.mark.parametrize("codes, start", [
    (dict(knetwk=None, khole=None), datetime(2020, 12, 31, 23, 59, 59, 999999)),
    (dict(knetwk=None, kstnm=None, khole=None, kcmpnm=None), datetime(1969, 12, 31, 23, 59, 59,
                                                                       999500))])
def test_names_from_codes_and_first_time(tmp_path, capfd, codes, start):
    (out := tmp_path / "out").mkdir()
    assert run("merge", "-o", out, put(tmp_path / "a.kiv", start, **codes)) == 0
    want = name(start, **{k: v or "" for k, v in {**CH, **codes}.items()})
    assert os.listdir(out) == [want] and us(kivf.read(out / want).starttime.item()) == us(start)


def kept(d):
    (d / "out" / name(T0, kstnm="KEPT")).write_bytes(b"old")
    return [put(d / "k.kiv", kstnm="KEPT")]


def inputs_output(d):
    return [put(d / "out" / name(T0, kstnm="SELF"), kstnm="SELF")]


@pytest.mark.parametrize("args, make, status, errs", [
    ("cut", None, 1, [r"kivf cut: give --start or --end \(or both\)"]),
    ("cut --merge --end 2030-01-01",  # b's first sample at a's last
     lambda d: [put(d / "a.kiv"), put(d / "b.kiv", T0 + timedelta(seconds=9.99))], 2,
     [r"kivf cut: IU\.ANMO\.00\.BHZ: @a\.kiv and @b\.kiv overlap from 2020-01-05T00:00:09\."
      r"990456 to 2020-01-05T00:00:09\.990456: channel not cut"]),
    ("merge", lambda d: [put(d / "a.kiv"), put(d / "b.kiv", T0 + 10 * timedelta(seconds=1),
                                               delta=0.025)], 2,
     [r"kivf merge: IU\.ANMO\.00\.BHZ: mixed rates: DELTA 0\.01 \(@a\.kiv\), DELTA 0\.025 "
      r"\(@b\.kiv\): channel not merged"]),
    ("cut --merge --start 2021-01-01",  # the window misses every file: said, status 1
     lambda d: [put(d / "a.kiv"), put(d / "b.kiv", T0 + timedelta(seconds=10))], 1,
     [r"kivf cut: @good\.kiv: IU\.GOOD\.00\.BHZ: no sample between 2021-01-01T00:00:00\.000000 "
      r"and the end", r"kivf cut: @a\.kiv, @b\.kiv: IU\.ANMO\.00\.BHZ: no sample between .*"]),
    ("merge", lambda d: [put(d / "u.kiv", n=3, x=[0.0, 1.0, 3.0])], 2,
     [r"kivf merge: @u\.kiv: uneven \(x given\): cannot be merged by time"]),
    ("merge -k", kept, 2, [rf"kivf merge: @out/{re.escape(name(T0, kstnm='KEPT'))}: exists, "
                           r"kept \(-k\): @k\.kiv not written"]),
    ("cut --start 2020-01-05", lambda d: [d / "good.kiv"], 2,
     [rf"kivf cut: @out/{re.escape(name(T0, kstnm='GOOD'))}: already written from @good\.kiv in "
      r"this run: @good\.kiv not written"]),
    ("merge", lambda d: [put(d / "s.kiv", kstnm="A/B")], 2,
     [r"kivf merge: @s\.kiv: KSTNM 'A/B' cannot be part of a file name: not written"]),
    ("cut --end 2030-01-01", inputs_output, 2,
     [r"kivf cut: (@out/.*SELF.*): is one of the inputs: not replaced by \1"]),
    ("merge -o @nope", None, 2, [r"kivf merge: @nope: no such directory: nothing written"])])
def test_refusals(tmp_path, capfd, args, make, status, errs):
    (out := tmp_path / "out").mkdir()
    good = put(tmp_path / "good.kiv", kstnm="GOOD")
    made = [] if make is None else make(tmp_path)
    before = {p: p.read_bytes() for p in out.iterdir()}
    argv = args.replace("@", f"{tmp_path}/").split()
    assert run(*argv, *([] if "-o" in argv else ["-o", out]), good, *made) == status
    err = [e for e in capfd.readouterr().err.splitlines() if not e.startswith(("usage", " "))]
    assert len(err) == len(errs)
    for e, want in zip(err, errs):
        assert re.fullmatch(want.replace("@", re.escape(f"{tmp_path}/")), e), e
    # The good file is written unless the run stopped before anything; nothing else is changed.
    assert ((out / name(T0, kstnm="GOOD")).exists()) == (status == 2 and "-o" not in argv)
    assert all(p.read_bytes() == b for p, b in before.items())
