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
import dask.distributed  # noqa: E402  (after the skip: it needs distributed)

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


def test_channel_stats_as_on_the_page(tmp_path, monkeypatch, capsys):
    code = [b for b in BLOCKS if b.startswith(FIRST)]
    assert len(code) == 1, f"{len(code)} python blocks begin with {FIRST!r}"
    want = make_files(tmp_path / "kiv")
    assert want["XK.BRAVO.10.LHZ"]["samples"] == 0 and want[".TKL..HHZ"]["files"] == 20
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(sys, "argv", ["channel_stats.py", "kiv"])
    # The client the page makes, watched: its workers' processes and the tasks they ran, taken
    # as it closes. Lambdas, so that they travel by value (the workers cannot import this file).
    seen = {}

    class WatchedClient(distributed.Client):  # dask knows a client by its class name
        def __exit__(self, *exc):
            seen["pids"] = self.run(os.getpid)
            seen["tasks"] = self.run(lambda dask_worker: dask_worker.state.executed_count)
            return super().__exit__(*exc)

    monkeypatch.setattr(dask.distributed, "Client", WatchedClient)
    page = {"__name__": "__main__"}  # as `python3 channel_stats.py kiv` runs it
    exec(compile(code[0], "channel_stats.py", "exec"), page)
    printed = capsys.readouterr().out
    # Its three results: the plain loop's as computed here (the sums in another order: the last
    # bits may differ); the schedulers' equal bit for bit.
    got = page["serial"]
    sums = lambda stats: [stats[c][k] for c in sorted(want) for k in ("mean", "rms")]
    assert sums(got) == pytest.approx(sums(want), 1e-12, 1e-9)
    exact = lambda stats: {c: {**s, "mean": 0, "rms": 0} for c, s in stats.items()}
    assert exact(got) == exact(want)
    assert page["threaded"] == got and page["clustered"] == got
    # 123 files: three tasks of 50; more, smaller batches and the synchronous scheduler too.
    assert len(page["paths"]) == sum(c[1] for c in CHANNELS) > 2 * 50
    for batch, scheduler in ((7, "threads"), (1, "sync"), (500, "threads")):
        assert page["channel_stats"](page["paths"], batch=batch, scheduler=scheduler) == got
    # Two worker processes ran the three batches and the sum; they are gone.
    assert len(seen["pids"]) == 2 and os.getpid() not in seen["pids"].values()
    assert sum(seen["tasks"].values()) >= 4, seen["tasks"]
    assert multiprocessing.active_children() == []
    # The table: a line per channel, its files and samples.
    lines = printed.splitlines()
    assert lines[0].split() == ["channel", "files", "samples", "mean", "rms", "min", "max"]
    rows = {line.split()[0]: line.split()[1:] for line in lines[1:]}
    assert {k: r[:2] for k, r in rows.items()} == {
        k: [str(w["files"]), str(w["samples"])] for k, w in want.items()}
    assert rows["XK.BRAVO.10.LHZ"][2:] == ["-"] * 4
