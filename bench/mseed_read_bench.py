# SPDX-License-Identifier: Apache-2.0
"""kivf.read of a day's miniSEED file against libmseed's own reading into memory, in one run.
Run by hand (see bench/mseedread.cmake):

    PYTHONPATH=<build>/python /usr/bin/python3 bench/mseed_read_bench.py \\
        <build>/bench/mseed_read_base [ROUNDS]

The file is one day at 100 samples/s (8,640,000 samples, bench/walkday.h) in Steim-2 512-byte
records, written by mseed_read_base with libmseed's packer. The baseline is mseed_read_base
--time: ms_readtracelist with the samples unpacked (int32), and the same followed by
mstl_convertsamples to float32 (what kivf.read hands back), timed inside a process of its own.
kivf.read is timed inside this one: first while the day's samples loaded with numpy
(np.fromfile(...).astype(np.float32), as a session holds its data) stay in memory, then with
nothing large held; where the other arrays lie decides whether a growing array can grow in
place. Each time kivf.read and the baseline take turns, one read each a round; medians.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import kivf


def baseline(prog, path):
    out = subprocess.run([prog, "--time", path], check=True, capture_output=True, text=True)
    words = out.stdout.split()
    read, convert, samples = float(words[1]), float(words[3]), int(words[5])
    return read, read + convert, samples


def turns(prog, path, rounds):
    """Medians of kivf.read and of the baseline's two times, taking turns."""
    ours, unpacked, floats = [], [], []
    for _ in range(rounds):
        t0 = time.perf_counter()
        kivf.read(path)
        ours.append(time.perf_counter() - t0)
        read, total, _ = baseline(prog, path)
        unpacked.append(read)
        floats.append(total)
    return tuple(statistics.median(x) for x in (ours, unpacked, floats))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    prog = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 11
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([prog, "--make", d], check=True)
        path = os.path.join(d, "day.mseed")
        want = np.fromfile(os.path.join(d, "day.i32"), np.int32).astype(np.float32)
        got = kivf.read(path)
        if not isinstance(got, list) or len(got) != 1 or not np.array_equal(got[0].data, want):
            sys.exit("kivf.read does not give the day as one trace of its samples")
        del got
        _, _, samples = baseline(prog, path)
        if samples != want.size:
            sys.exit(f"the baseline read {samples} samples, not {want.size}")
        size = os.path.getsize(path)
        count = want.size
        held = turns(prog, path, rounds)
        del want
        alone = turns(prog, path, rounds)
    print(f"one day, {count:,} samples in {size // 512:,} 512-byte Steim-2 records "
          f"({size / 1e6:.1f} MB); {rounds} rounds, medians")
    for name, (o, u, f) in (("the day's numpy array held", held), ("nothing else held", alone)):
        print(f"  {name}:")
        print(f"    libmseed ms_readtracelist, int32             {u * 1e3:8.2f} ms")
        print(f"    the same + mstl_convertsamples to float32    {f * 1e3:8.2f} ms")
        print(f"    kivf.read                                    {o * 1e3:8.2f} ms   "
              f"/int32 {o / u:5.3f}x (target <= 1.3) {'holds' if o / u <= 1.3 else 'OVER'}   "
              f"/float32 {o / f:5.3f}x")
    print(f"({os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f})")


if __name__ == "__main__":
    main()
