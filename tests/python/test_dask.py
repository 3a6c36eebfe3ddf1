# SPDX-License-Identifier: Apache-2.0
"""The Dask example of docs/scaleout.md (channel_stats.py), run as it stands on the page over
generated KIV files: the threaded scheduler and a local cluster of processes give its plain
loop's per channel statistics bit for bit, and those are the statistics computed here from
the samples written. Skipped without dask or distributed."""
import math
import multiprocessing
import os
import pathlib
import re
import sys

import numpy as np
import pytest

import kivf

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

SOURCE = pathlib.Path(os.environ.get("KIVF_SOURCE_DIR") or pathlib.Path(__file__).parents[2])
FIRST = "# channel_stats.py: "
BLOCKS = re.findall(r"^```python\n(.*?)^```$", (SOURCE / "docs" / "scaleout.md").read_text(),
                    re.M | re.S)
# The channels: codes (None: undefined), files, samples a file, and what goes wrong in them.
CHANNELS = [
    (("XK", "ALPHA", "00", "BHZ"), 60, 400, None),
    (("XK", "ALPHA", "00", "BHN"), 40, 300, "nan"),      # a few NaN samples: left out
    ((None, "TKL", None, "HHZ"), 20, 250, "empty"),     # no network, no location; an empty file
    (("XK", "BRAVO", "10", "LHZ"), 3, 50, "all nan"),    # no sample that is a number
]


def test_every_python_example_is_run_or_marked():
    for b in BLOCKS:
        first = b.split("\n", 1)[0]
        assert first.startswith((FIRST, "# not run: needs ")), f"an example nothing runs: {first}"


def make_files(kiv):
    """Writes the channels' files; returns each channel's statistics from the samples written
    (as the float32 values stored), the sums exact (math.fsum)."""
    rng, want = np.random.default_rng(20261207), {}
    kiv.mkdir()
    for codes, nfiles, n, fault in CHANNELS:
        key = ".".join(c or "" for c in codes)
        fields = {k: v for k, v in zip(("knetwk", "kstnm", "khole", "kcmpnm"), codes) if v}
        parts = []
        for i in range(nfiles):
            # a large offset that differs from file to file, so that the sums are not trivial
            y = (rng.normal(0, 300, n) + 1.0e5 * (i % 7 - 3)).astype(np.float32)
            if fault == "nan" and i % 5 == 1:
                y[rng.integers(0, n, 4)] = np.nan
            y = y[:0] if fault == "empty" and i == 7 else y
            if fault == "all nan":
                y[:] = np.nan
            kivf.write(str(kiv / f"{key}.2026.341.{i // 60:02d}.{i % 60:02d}.00.000.kiv"), y,
                       delta=0.01, b=0.0, nzyear=2026, nzjday=341, nzhour=i // 60, nzmin=i % 60,
                       nzsec=0, nzmsec=0, **fields)
            parts.append(y)
        y = np.concatenate(parts).astype(np.float64)
        y = y[~np.isnan(y)]
        m = y.size or None  # None: no statistics
        want[key] = {"files": nfiles, "samples": y.size, "mean": m and math.fsum(y) / m,
                     "rms": m and math.sqrt(math.fsum(y * y) / m),
                     "min": m and float(y.min()), "max": m and float(y.max())}
    return want


def test_channel_stats_as_on_the_page(tmp_path, monkeypatch):
    code = [b for b in BLOCKS if b.startswith(FIRST)]
    assert len(code) == 1, f"{len(code)} python blocks begin with {FIRST!r}"
    want = make_files(tmp_path / "kiv")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(sys, "argv", ["channel_stats.py", "kiv"])
    page = {"__name__": "__main__"}  # as `python3 channel_stats.py kiv` runs it
    exec(compile(code[0], "channel_stats.py", "exec"), page)
    # Its three results: the plain loop's as computed here (the sums in another order: the last
    # bits may differ); the schedulers' equal bit for bit.
    got = page["serial"]
    sums = lambda stats: [stats[c][k] for c in sorted(want) for k in ("mean", "rms")]
    assert sums(got) == pytest.approx(sums(want), 1e-12, 1e-9)
    exact = lambda stats: {c: {**s, "mean": 0, "rms": 0} for c, s in stats.items()}
    assert exact(got) == exact(want)
    assert page["threaded"] == got and page["clustered"] == got
    # 123 files: three tasks of 50. The cluster's worker processes are gone.
    assert len(page["paths"]) == sum(c[1] for c in CHANNELS) > 2 * 50
    assert multiprocessing.active_children() == []
