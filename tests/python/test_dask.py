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
DOC = SOURCE / "docs" / "scaleout.md"
FIRST = "# channel_stats.py: "


def python_blocks():
    return re.findall(r"^```python\n(.*?)^```$", DOC.read_text(), re.M | re.S)


def the_example():
    found = [b for b in python_blocks() if b.startswith(FIRST)]
    assert len(found) == 1, f"{DOC}: {len(found)} python blocks begin with {FIRST!r}"
    return found[0]


def test_every_python_example_is_run_or_marked():
    for b in python_blocks():
        first = b.split("\n", 1)[0]
        assert first.startswith((FIRST, "# not run: needs ")), f"an example nothing runs: {first}"


# The channels: codes (None: undefined), files, samples a file, and what goes wrong in them.
CHANNELS = [
    (("XK", "ALPHA", "00", "BHZ"), 60, 400, None),
    (("XK", "ALPHA", "00", "BHN"), 40, 300, "nan"),      # a few NaN samples: left out
    ((None, "TKL", None, "HHZ"), 20, 250, "empty"),     # no network, no location; an empty file
    (("XK", "BRAVO", "10", "LHZ"), 3, 50, "all nan"),    # no sample that is a number
]


def make_files(kiv):
    """Writes the channels' files and returns, per channel key, the samples written (as the
    float32 values stored) and the number of files."""
    rng = np.random.default_rng(20261207)
    written = {}
    kiv.mkdir()
    for codes, nfiles, n, fault in CHANNELS:
        net, sta, loc, cha = codes
        key = ".".join(c or "" for c in codes)
        fields = {k: v for k, v in (("knetwk", net), ("kstnm", sta), ("khole", loc),
                                    ("kcmpnm", cha)) if v is not None}
        parts = []
        for i in range(nfiles):
            # a large offset that differs from file to file, so that the sums are not trivial
            y = (rng.normal(0, 300, n) + 1.0e5 * (i % 7 - 3)).astype(np.float32)
            if fault == "nan" and i % 5 == 1:
                y[rng.integers(0, n, 4)] = np.nan
            if fault == "empty" and i == 7:
                y = y[:0]
            if fault == "all nan":
                y[:] = np.nan
            name = f"{key}.2026.341.{i // 60:02d}.{i % 60:02d}.00.000.kiv"
            kivf.write(str(kiv / name), y, delta=0.01, b=0.0, nzyear=2026, nzjday=341,
                       nzhour=i // 60, nzmin=i % 60, nzsec=0, nzmsec=0, **fields)
            parts.append(y)
        written[key] = (parts, nfiles)
    return written


def expected(written):
    """Each channel's statistics from the samples written: the sums exact (math.fsum)."""
    out = {}
    for key, (parts, nfiles) in written.items():
        y = np.concatenate(parts).astype(np.float64)
        y = y[~np.isnan(y)]
        n = y.size
        out[key] = {"files": nfiles, "samples": n,
                    "mean": math.fsum(y) / n if n else None,
                    "rms": math.sqrt(math.fsum(y * y) / n) if n else None,
                    "min": float(y.min()) if n else None, "max": float(y.max()) if n else None}
    return out


def agrees(got, want):
    assert got.keys() == want.keys()
    for key in want:
        g, w = got[key], want[key]
        assert g.keys() == w.keys(), key
        for k in ("files", "samples", "min", "max"):
            assert g[k] == w[k], (key, k, g[k], w[k])
        for k in ("mean", "rms"):
            if w[k] is None:
                assert g[k] is None, (key, k)
            else:  # summed in another order: the last bits may differ
                assert g[k] == pytest.approx(w[k], rel=1e-12, abs=1e-9), (key, k)


def test_channel_stats_as_on_the_page(tmp_path, monkeypatch, capsys):
    code = the_example()
    written = make_files(tmp_path / "kiv")
    want = expected(written)
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
    exec(compile(code, "channel_stats.py", "exec"), page)
    printed = capsys.readouterr().out

    # Its three results: the plain loop's as computed here; the schedulers' equal bit for bit.
    agrees(page["serial"], want)
    assert page["threaded"] == page["serial"]
    assert page["clustered"] == page["serial"]
    # 123 files: three tasks of 50; more, smaller batches and the synchronous scheduler too.
    assert len(page["paths"]) == sum(c[1] for c in CHANNELS) > 2 * 50
    for batch, scheduler in ((7, "threads"), (1, "sync"), (500, "threads")):
        assert page["channel_stats"](page["paths"], batch=batch, scheduler=scheduler) == page["serial"]
    # Two worker processes ran the three batches and the sum; they are gone.
    assert len(seen["pids"]) == 2 and os.getpid() not in seen["pids"].values()
    assert sum(seen["tasks"].values()) >= 4, seen["tasks"]
    assert multiprocessing.active_children() == []

    # The table: a line per channel, its files and samples.
    lines = printed.splitlines()
    assert lines[0].split() == ["channel", "files", "samples", "mean", "rms", "min", "max"]
    rows = {line.split()[0]: line.split()[1:] for line in lines[1:]}
    assert rows.keys() == want.keys()
    for key, w in want.items():
        assert rows[key][:2] == [str(w["files"]), str(w["samples"])], key
    assert rows["XK.BRAVO.10.LHZ"][2:] == ["-"] * 4
