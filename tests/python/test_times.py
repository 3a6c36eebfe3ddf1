# SPDX-License-Identifier: Apache-2.0
"""Sample times as the library gives them: nominal rates, ends, merges that never drift."""
import os
import subprocess

import numpy as np
import pytest

import kivf

BIN = os.environ.get("KIVF_BINARY_DIR", "")
DAY_US = 86400 * 10**6


def day_start(year, jday):
    return np.datetime64(f"{year}-01-01", "us") + np.timedelta64((jday - 1) * DAY_US, "us")


@pytest.mark.parametrize("delta, rate", [
    (0.025, 40.0), (0.01, 100.0), (0.005, 200.0), (1.0, 1.0), (10.0, 0.1), (3.0, 1 / 3),
    (0.032, 31.25), (1 / 33.333, 33.333), (1 / 10.001, 1e5 / 9999), (-0.025, None),
    (0.0, None), (np.inf, None)])
def test_sampling_rate_is_nominal_and_delta_stays_stored(tmp_path, delta, rate):
    kivf.write(tmp_path / "t.kiv", np.zeros(3), delta=delta, b=0.0)
    t = kivf.read(tmp_path / "t.kiv")
    assert t.sampling_rate == rate and t.delta == np.float32(delta)


def test_forty_hertz_segment_ends_alike_in_kivhdr_and_python(tmp_path):
    # The archive's 6000-sample BHZ segment from 00:00:00.019: E, a float, says .994006.
    kivf.write(tmp_path / "a.kiv", np.zeros(6000), delta=0.025, b=0.0, nzyear=2011,
               nzjday=100, nzhour=0, nzmin=0, nzsec=0, nzmsec=19)
    t = kivf.read(tmp_path / "a.kiv")
    shown = subprocess.run([f"{BIN}/kivhdr/kivhdr", "-f", "ENDTIME", "-f", "E", "a.kiv"],
                           cwd=tmp_path, capture_output=True, text=True, check=True).stdout
    assert shown == "2011-04-10T00:02:29.994000Z\t149.975\n"
    assert str(t.endtime) == str(t.utc_times()[-1]) == "2011-04-10T00:02:29.994000"
    assert t.times()[-1] == 149.975


def test_three_day_files_at_100_hz_merge_without_drift(tmp_path):
    # Day files as a converter writes them: each day's reference time, B 0, DELTA 0.01.
    n = 8_640_000
    for k, jday in enumerate((60, 61, 62)):
        kivf.write(tmp_path / f"d{k}.kiv", np.full(n, k, np.float32), delta=0.01, b=0.0,
                   nzyear=2016, nzjday=jday, nzhour=0, nzmin=0, nzsec=0, nzmsec=0,
                   kstnm="ANMO", kcmpnm="HHZ")
    days = [kivf.read(tmp_path / f"d{k}.kiv") for k in range(3)]
    (m,) = kivf.read(str(tmp_path / "d*.kiv"), merge=True)
    t = m.utc_times()
    assert len(t) == 3 * n and m.sampling_rate == 100.0
    for k, d in enumerate(days):  # every sample at its own file's time, to the microsecond
        assert np.array_equal(t[k * n:(k + 1) * n], d.utc_times())
    assert t[2 * n] == day_start(2016, 62) and m.endtime == day_start(2016, 63) - 10000
    m.write(tmp_path / "m.kiv")  # written back: its start and DELTA give the same times
    assert np.array_equal(kivf.read(tmp_path / "m.kiv").utc_times(), t)


@pytest.mark.parametrize("moved, joined", [(0, True), (15000, True), (-15000, True),
                                           (15001, False), (-15001, False)])
def test_pieces_join_on_the_nominal_grid(tmp_path, moved, joined):
    # 33.333 Hz: an interval of 30000.3 us, not whole, half of it 15000.15; the second piece starts where the
    # first one's grid continues, as a converter writes it (to the microsecond), or moved.
    kivf.write(tmp_path / "a.kiv", np.zeros(1000), delta=1 / 33.333, b=0.0, nzyear=2020,
               nzjday=5, nzhour=0, nzmin=0, nzsec=0, nzmsec=0, kstnm="ANMO")
    a = kivf.read(tmp_path / "a.kiv")
    grid = int(a._offsets(1000, 1)[0]) + moved  # 30 s and 300 us after a's start
    kivf.write(tmp_path / "b.kiv", np.ones(500), delta=1 / 33.333, b=(grid % 1000) / 1e6,
               nzyear=2020, nzjday=5, nzhour=0, nzmin=0, nzsec=grid // 10**6,
               nzmsec=grid // 1000 % 1000, kstnm="ANMO")
    b = kivf.read(tmp_path / "b.kiv")
    m = kivf.merge([b, a])
    assert [len(x.data) for x in m] == ([1500] if joined else [1000, 500])
    if joined:  # b's samples move by what it was off the grid, within a microsecond
        moved_by = (m[0].utc_times()[1000:] - b.utc_times()).astype(np.int64)
        assert np.abs(moved_by + moved).max() <= 1


def test_rates_recorders_use_read_back_from_batch_conversion(tmp_path):
    rates = ["0.1", "0.2", "0.5", "1", "2", "2.5", "4", "5", "8", "10", "12.5", "16", "20", "25",
             "31.25", "33.333", "40", "50", "62.5", "80", "100", "125", "200", "250", "400", "500",
             "1000"]
    np.zeros(10, "<f4").tofile(tmp_path / "a.w")
    (tmp_path / "a.wfdisc").write_text("".join(
        f"R{k} BHZ 1488931200.0 -1 -1 2017067 0 10 {r} 1 1 - - f4 - . a.w 0 -1 0\n"
        for k, r in enumerate(rates)))
    subprocess.run([f"{BIN}/wfdxlate/wfdxlate", "-q", "a.wfdisc"], cwd=tmp_path, check=True)
    got = [kivf.read(tmp_path / f"R{k}.BHZ.2017.067.00.00.00.000.kiv").sampling_rate
           for k in range(len(rates))]
    assert got == [float(r) for r in rates]
