# SPDX-License-Identifier: Apache-2.0
"""kivf.spans and python3 -m kivf spans: each channel's continuous spans, gaps and overlaps."""
import csv
import io
from datetime import datetime, timedelta

import numpy as np
import pytest

import kivf
from kivf import __main__ as cli

EPOCH = datetime(1970, 1, 1)
T0 = (datetime(2020, 1, 5) - EPOCH) // timedelta(microseconds=1)
HOUR = 3600 * 10**6


def put(path, start, n, step_us, net="XX", sta="AAA", loc="00", cha="HHZ", **f):
    """A KIV file of n samples step_us apart from start (us, on a millisecond)."""
    t = EPOCH + timedelta(microseconds=start)
    kivf.write(path, np.zeros(n), delta=step_us / 1e6, knetwk=net, kstnm=sta, khole=loc,
               kcmpnm=cha, nzyear=t.year, nzjday=t.timetuple().tm_yday, nzhour=t.hour,
               nzmin=t.minute, nzsec=t.second, nzmsec=t.microsecond // 1000, b=0.0, **f)
    return str(path)


def iso(us, digits=6):
    text = (EPOCH + timedelta(microseconds=us)).strftime("%Y-%m-%dT%H:%M:%S.%f")
    return text[:len(text) - 6 + digits] + "Z"


def at(us):
    return np.datetime64(us, "us")


def expect(codes, start, n, step_us, files, gap=None, note=""):
    """The span a test wrote, its end its last sample: (n - 1) intervals after its start."""
    return kivf._spans.Span(*codes, at(start), at(start + (n - 1) * step_us), n,
                            1e6 / step_us, tuple(files), gap, note)


CHANNELS = [("XX", "AAA", "00", "HHN"), ("XX", "AAA", "00", "HHZ"), ("YY", "BBB", "", "BHZ")]
SEGMENTS = [[0, 1], [3, 4, 5], [8]]  # hours: two gaps of an hour and of two


def test_archive_of_three_channels_three_segments_each_and_its_listings(tmp_path, capfd):
    """Hour files of 3600 samples at 1 Hz, three segments for each of three channels, written
    in no particular order."""
    want = []
    for codes in CHANNELS:
        last = None
        for hours in SEGMENTS:
            files = [put(tmp_path / f"{'.'.join(codes)}.{h}.kiv", T0 + h * HOUR, 3600, 10**6,
                         *codes) for h in hours]
            start = T0 + hours[0] * HOUR
            gap = None if last is None else (start - last) / 1e6
            want.append(expect(codes, start, 3600 * len(hours), 10**6, files, gap))
            last = T0 + (hours[-1] + 1) * HOUR
    files = sorted(str(p) for p in tmp_path.glob("*.kiv"))
    got = kivf.spans(files[::-1])
    assert got == want and len(got) == 9
    assert kivf.spans(str(tmp_path / "*.kiv")) == got  # a pattern, as kivf.read takes it
    assert cli.main(["spans", "--csv", *files]) == 0
    out, err = capfd.readouterr()
    rows = list(csv.DictReader(io.StringIO(out)))
    assert err == "" and len(rows) == 9
    for r, s in zip(rows, want):
        start, end = (int(t.astype(np.int64)) for t in (s.start, s.end))
        assert r == dict(network=s.network, station=s.station, location=s.location,
                         channel=s.channel, start=iso(start), end=iso(end),
                         samples=str(s.samples), rate="1", gap="" if s.gap is None else
                         str(int(s.gap)), note="", gaps="2", overlaps="0",
                         files=str(len(s.files)))
    assert cli.main(["spans", *files]) == 0
    lines = capfd.readouterr().out.splitlines()
    assert lines[0].split() == ["NET", "STA", "LOC", "CHA", "START", "END", "SAMPLES", "RATE",
                                "GAP"]
    assert len({len(line) for line in lines[1:4]}) == 2  # aligned; the first has no gap
    assert lines[9].split() == ["YY", "BBB", "--", "BHZ", iso(T0, 3),
                                iso(T0 + 2 * HOUR - 10**6, 3), "7200", "1"]


def test_overlap_and_gap_counted(tmp_path, capfd):
    codes = ("XX", "AAA", "00", "HHZ")
    a = put(tmp_path / "a.kiv", T0, 3600, 10**6)
    b = put(tmp_path / "b.kiv", T0 + HOUR - 60 * 10**6, 3600, 10**6)  # a minute over a's end
    c = put(tmp_path / "c.kiv", T0 + 3 * HOUR, 60, 10**6)
    want = [expect(codes, T0, 3600, 10**6, [a]),
            expect(codes, T0 + HOUR - 60 * 10**6, 3600, 10**6, [b], -60.0),
            expect(codes, T0 + 3 * HOUR, 60, 10**6, [c], (HOUR + 60 * 10**6) / 1e6)]
    assert kivf.spans([c, b, a]) == want
    assert cli.main(["spans", a, b, c]) == 0
    out = capfd.readouterr().out.splitlines()
    assert out[-1].strip() == "3 spans, 1 gap, 1 overlap" and out[2].endswith(" -60")
    assert out[3].endswith(" +3660")


def test_mixed_rates_and_files_that_join_nothing_are_rows_of_their_own(tmp_path):
    codes = ("XX", "AAA", "00", "HHZ")
    one = put(tmp_path / "one.kiv", T0, 100, 10**6)
    two = put(tmp_path / "two.kiv", T0 + 100 * 10**6, 200, 500_000)  # where one continues
    hundred = put(tmp_path / "hundred.kiv", T0, 500, 10_000)
    kivf.write(uneven := str(tmp_path / "uneven.kiv"), np.zeros(3), x=[0.0, 1.0, 2.5], b=0.0,
               e=2.5, delta=0.5, kstnm="AAA", nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0,
               nzmsec=0)
    kivf.write(nostart := str(tmp_path / "nostart.kiv"), np.zeros(7), delta=1.0, kstnm="AAA")
    got = kivf.spans([hundred, uneven, two, nostart, one])
    assert np.isnat(got[0].start) and np.isnat(got[0].end)  # NaT equals nothing
    assert [got[0]._replace(start=None, end=None), got[1]] == [
        kivf._spans.Span(None, "AAA", None, None, None, None, 7, 1.0, (nostart,), None,
                         "no start"),
        kivf._spans.Span(None, "AAA", None, None, at(T0), at(T0 + 2_500_000), 3, 2.0, (uneven,),
                         None, "uneven")]
    assert got[2:] == [expect(codes, T0, 100, 10**6, [one]),
                       expect(codes, T0 + 100 * 10**6, 200, 500_000, [two]),
                       expect(codes, T0, 500, 10_000, [hundred])]


def test_times_to_the_microsecond_when_needed(tmp_path, capfd):
    f = put(tmp_path / "a.kiv", T0, 10, 10**6)
    kivf.write(g := str(tmp_path / "b.kiv"), np.zeros(5), delta=0.25, b=0.000123, kstnm="B",
               nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0)
    assert cli.main(["spans", f, g]) == 0
    text = capfd.readouterr().out
    assert iso(T0 + 123) in text and iso(T0 + 123 + 1_000_000) in text and iso(T0) in text


def test_unreadable_files_said_others_listed(tmp_path, capfd):
    good = put(tmp_path / "a.kiv", T0, 10, 10**6)
    gone = str(tmp_path / "gone.kiv")
    with pytest.raises(kivf.KivFileNotFoundError):
        kivf.spans([good, gone])
    assert cli.main(["spans", "--csv", gone, good]) == 2
    out, err = capfd.readouterr()
    assert err.splitlines() == [f"kivf spans: ERROR 1410: KIV file does not exist: {gone}"]
    rows = list(csv.reader(io.StringIO(out)))
    assert len(rows) == 2 and rows[1][:7] == ["XX", "AAA", "00", "HHZ", iso(T0),
                                              iso(T0 + 9 * 10**6), "10"]


@pytest.mark.skipif(not kivf._kivf.mseed, reason="kivf was built without libmseed")
def test_mseed_file_read_whole_its_segments_spans(tmp_path):
    a, b = (put(tmp_path / f"{k}.kiv", T0 + k * 600 * 10**6, 200, 10**6) for k in (0, 1))
    kivf.write_mseed(m := str(tmp_path / "x.mseed"), [kivf.read(a), kivf.read(b)])
    codes = ("XX", "AAA", "00", "HHZ")
    assert kivf.spans([m]) == [expect(codes, T0, 200, 10**6, [m]),
                               expect(codes, T0 + 600 * 10**6, 200, 10**6, [m], 400.0)]
