# SPDX-License-Identifier: Apache-2.0
"""kivf.read from threads: files of 100,000 samples read by one thread and by two, in one run.
Run by hand:

    PYTHONPATH=build/default/python /usr/bin/python3 bench/kivf_threads.py [FILES] [ROUNDS]

Prints the best wall time of each over ROUNDS and their ratio (one thread's time over two's:
about 2 on two idle cores when the reads run without the interpreter lock, about 1 when they
hold it). Run it with another build's PYTHONPATH in the same sitting to compare single-thread
speed.
"""
import sys
import tempfile
import threading

import numpy as np

import kivf
from kivf_bench import best  # beside this file

SAMPLES = 100_000


def main():
    files = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as d:
        rng = np.random.default_rng(1)
        paths = [f"{d}/f{i}.kiv" for i in range(files)]
        for p in paths:
            kivf.write(p, rng.normal(0, 1e4, SAMPLES).astype(np.float32), delta=0.01)
        total = sum(float(kivf.read(p).data[-1]) for p in paths)  # warm the page cache

        def serial():
            half(paths)

        def half(part):
            for p in part:  # each trace dropped when the next is read, as a worker's would be
                kivf.read(p)

        def two():
            # Each thread reads its half of the files, as a worker of a pool would.
            halves = [threading.Thread(target=half, args=(h,)) for h in (paths[0::2], paths[1::2])]
            for t in halves:
                t.start()
            for t in halves:
                t.join()

        one, both = best(serial, rounds), best(two, rounds)
        print(f"{files} files of {SAMPLES} samples ({total:.0f}): 1 thread {one * 1e3:.1f} ms "
              f"({one / files * 1e6:.1f} us a file), 2 threads {both * 1e3:.1f} ms; "
              f"ratio {one / both:.2f}x")


if __name__ == "__main__":
    main()
