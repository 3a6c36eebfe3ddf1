# SPDX-License-Identifier: Apache-2.0
"""The plot command on long records against the plot as it was before long runs were drawn per
pixel column (commit d70821b's package), in one sitting. Run by hand:

    PYTHONPATH=<build>/python /usr/bin/python3 bench/plot_bench.py [DAYS_BIG] [ROUNDS]

Day files of one channel at 100 samples/s (8,640,000 float32 samples each, 34.6 MB) are
written once into a temporary directory. Each plot runs in a process of its own (python3 -m
kivf plot FILES -o OUT.png), its wall time and peak resident memory (the process's maxrss)
measured; medians over ROUNDS (default 3). The earlier package is laid out beside the build's
(its .py files from git, the build's compiled module, which still holds everything they call).
Cases: 1 and 3 days, old and new; DAYS_BIG days (default 30: 1 GB of samples) new only, whose
peak memory is compared with the new 3-day plot's. A short record (one hour at 1 Hz) is drawn
by both, and the two pictures' pixels are compared.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

OLD = "d70821b"  # the package before the plot read in pieces
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))  # the source tree


def old_package(root, new):
    """The earlier package's .py files with this build's compiled module (in new), under root."""
    pkg = os.path.join(root, "kivf")
    os.makedirs(pkg)
    for name in os.listdir(new):
        if name.startswith("_kivf"):
            shutil.copy(os.path.join(new, name), pkg)
    names = subprocess.run(["git", "-C", HERE, "ls-tree", "--name-only", f"{OLD}:python/kivf"],
                           check=True, capture_output=True, text=True).stdout.split()
    for name in names:
        text = subprocess.run(["git", "-C", HERE, "show", f"{OLD}:python/kivf/{name}"],
                              check=True, capture_output=True).stdout
        with open(os.path.join(pkg, name), "wb") as f:
            f.write(text)
    return root


def days(where, count):
    """count contiguous day files of one channel at 100 samples/s, made once (in a process of
    its own: one that starts the plots must stay small, since a child's peak memory starts at
    its parent's)."""
    import numpy as np

    import kivf
    rng = np.random.default_rng(7)
    t = np.arange(8_640_000) / 100.0
    paths = []
    for d in range(count):
        path = os.path.join(where, f"RO.MLR..BHZ.2020.{100 + d:03d}.kiv")
        if not os.path.exists(path):
            y = 1030 + 40 * rng.standard_normal(t.size) + 300 * np.sin(2 * np.pi * t / 3600)
            y[4_000_000 + 17 * d] = 9000 + d  # a one-sample peak a day
            kivf.write(path, y.astype(np.float32), delta=0.01, nzyear=2020, nzjday=100 + d,
                       nzhour=0, nzmin=0, nzsec=0, nzmsec=0, b=0.0, knetwk="RO", kstnm="MLR",
                       kcmpnm="BHZ")
        paths.append(path)
    return paths


def measure(pythonpath, files, out):
    """Wall seconds and peak resident MB of one plot in a process of its own."""
    env = dict(os.environ, PYTHONPATH=pythonpath, MPLBACKEND="Agg")
    t0 = time.perf_counter()
    done = subprocess.run([sys.executable, "-c", "import resource, sys, kivf.__main__ as m; "
                           "s = m.main(sys.argv[1:]); sys.stdout.flush(); "
                           "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss); "
                           "sys.exit(s)", "plot", *files, "-o", out], env=env, check=True,
                          stdout=subprocess.PIPE, text=True)
    return time.perf_counter() - t0, int(done.stdout.split()[-1]) / 1024


def medians(pythonpath, files, out, rounds):
    got = [measure(pythonpath, files, out) for _ in range(rounds)]
    return statistics.median(g[0] for g in got), statistics.median(g[1] for g in got)


def main():
    big = int(sys.argv[1]) if len(sys.argv) > 1 else 30  # at least 3
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    new = next(p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep)
               if os.path.isdir(os.path.join(p, "kivf")))
    with tempfile.TemporaryDirectory() as tmp:
        old = old_package(os.path.join(tmp, "old"), os.path.join(new, "kivf"))
        data = os.path.join(tmp, "data")
        os.makedirs(data)
        files = subprocess.run([sys.executable, __file__, "--days", data, str(max(big, 3))],
                               check=True, stdout=subprocess.PIPE, text=True).stdout.split()
        out = os.path.join(tmp, "p.png")
        print(f"{'case':<22}{'seconds':>9}{'peak MB':>9}")
        rows = {}
        for n in (1, 3):
            for name, path in (("before", old), ("now", new)):
                rows[name, n] = medians(path, files[:n], out, rounds)
                print(f"{f'{n} day(s), {name}':<22}{rows[name, n][0]:>9.2f}"
                      f"{rows[name, n][1]:>9.0f}")
        rows["now", big] = medians(new, files[:big], out, rounds)
        print(f"{f'{big} days, now':<22}{rows['now', big][0]:>9.2f}{rows['now', big][1]:>9.0f}")
        for n in (1, 3):
            (t0, m0), (t1, m1) = rows["before", n], rows["now", n]
            print(f"{n} day(s): {t0 / t1:.1f}x faster, {m0 / m1:.1f}x less peak memory")
        print(f"{big} days' peak memory / 3 days': {rows['now', big][1] / rows['now', 3][1]:.2f}")
        # A short record: the same picture, pixel for pixel.
        pngs = [os.path.join(tmp, f"short{k}.png") for k in range(2)]
        short = subprocess.run([sys.executable, __file__, "--short", data], check=True,
                               stdout=subprocess.PIPE, text=True).stdout.strip()
        for path, png in zip((old, new), pngs):
            measure(path, [short], png)
        same = subprocess.run([sys.executable, __file__, "--same", *pngs], check=True,
                              stdout=subprocess.PIPE, text=True).stdout.strip()
        print(f"short record: pictures {same}")


def short(where):
    """One hour at 1 sample/s."""
    import numpy as np

    import kivf
    path = os.path.join(where, "short.kiv")
    kivf.write(path, np.sin(np.arange(3600) / 50.0) * 1000, delta=1.0, nzyear=2020, nzjday=5,
               nzhour=0, nzmin=0, nzsec=0, nzmsec=0, kstnm="ANMO", kcmpnm="BHZ")
    return path


def same(a, b):
    import matplotlib.image as mpimg
    import numpy as np
    x, y = mpimg.imread(a), mpimg.imread(b)
    return "identical" if x.shape == y.shape and np.array_equal(x, y) else "DIFFER"

if __name__ == "__main__":
    if sys.argv[1:2] == ["--days"]:
        print("\n".join(days(sys.argv[2], int(sys.argv[3]))))
    elif sys.argv[1:2] == ["--short"]:
        print(short(sys.argv[2]))
    elif sys.argv[1:2] == ["--same"]:
        print(same(*sys.argv[2:4]))
    else:
        main()
