# SPDX-License-Identifier: Apache-2.0
"""kivf.read against a plain numpy reader, and kivf.sphgeo against the same formula vectorised
in numpy, in one run. Run by hand (see bench/python.cmake):

    PYTHONPATH=build/default/python /usr/bin/python3 bench/kivf_bench.py [SPHGEO_DIR]

With SPHGEO_DIR (the folder of sphgeo.mex) and octave-cli, kivf.sphgeo's results are also
compared bit for bit with the plug-in's on the benchmark's stations.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

import kivf


def np_read(path):
    """The plain numpy reader: header words, text and samples with np.fromfile."""
    with open(path, "rb") as f:
        num = np.fromfile(f, np.int32, 110)
        text = f.read(192)
        order = "=" if num[76] == 6 else ("<" if sys.byteorder == "big" else ">")
        if order != "=":
            num = num.byteswap()
        npts, leven = int(num[79]), int(num[105])
        data = np.fromfile(f, np.dtype(np.float32).newbyteorder(order), npts)
        x = None if leven else np.fromfile(f, np.dtype(np.float32).newbyteorder(order), npts)
    return num, text, data, x


def np_sphgeo(slat, slon, elat, elon):
    """The plug-in's steps, constants and order of operations, vectorised."""
    slatr, slonr = slat * 0.01745329, slon * 0.01745329
    elatr, elonr = elat * 0.01745329, elon * 0.01745329
    sc = 1.570796327 - np.arctan(np.tan(slatr) * 0.996647)
    ec = 1.570796327 - np.arctan(np.tan(elatr) * 0.996647)
    slonr = np.where(slonr >= 0.0, slonr, slonr + 6.283185307)
    if not elonr >= 0.0:
        elonr = elonr + 6.283185307
    sec, cec, sel, cel = np.sin(ec), np.cos(ec), np.sin(elonr), np.cos(elonr)
    ssc, csc, ssl, csl = np.sin(sc), np.cos(sc), np.sin(slonr), np.cos(slonr)
    with np.errstate(invalid="ignore", divide="ignore"):
        cd = ((sec * cel) * (ssc * csl) + (sec * sel) * (ssc * ssl)) + cec * csc
        delta = np.arccos(cd) * 57.29577951
        dist = (delta * 0.01745329252) * 6371.0
        cdl = cel * csl + sel * ssl
        sd = np.sqrt(1.0 - cd * cd)
        a = np.arccos(((sec * csc) - (cec * ssc) * cdl) / sd)
        a = np.where((ssl * cel - csl * sel) < 0.0, 6.283185307 - a, a)
        b = np.arccos(((cec * ssc) - (sec * csc) * cdl) / sd)
        b = np.where((csl * sel - ssl * cel) < 0.0, 6.283185307 - b, b)
    return delta, dist, a * 57.29577951, b * 57.29577951


def best(f, rounds):
    """Best wall time of f over rounds."""
    t = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        f()
        t.append(time.perf_counter() - t0)
    return min(t)


def compare(name, ours, base, rounds, target):
    """ours and base take turns, so that both see the same machine."""
    to, tb = [], []
    for _ in range(rounds):
        to.append(best(ours, 1))
        tb.append(best(base, 1))
    o, b = min(to), min(tb)
    print(f"{name:<42} kivf {o * 1e3:9.2f} ms   numpy {b * 1e3:9.2f} ms   "
          f"numpy/kivf {b / o:5.2f}x  (target >= {target}x)")


def same_bits(a, b):
    return all(np.array_equal(x.view(np.uint64), y.view(np.uint64)) for x, y in zip(a, b))


# numpy's own SIMD functions (AVX-512 here) are not glibc's, so their last bits differ from
# the plug-in's; without them numpy calls the same libm as the plug-in, bit for bit.
NO_SIMD = "AVX512F AVX512CD AVX512_SKX AVX512_CLX AVX512_CNL AVX512_ICL"


def stations(n):
    rng = np.random.default_rng(2)
    return rng.uniform(-90, 90, n), rng.uniform(-180, 180, n)


def sphgeo_bench(label):
    slat, slon = stations(1_000_000)
    ours, base = kivf.sphgeo(slat, slon, 35.0, 140.0), np_sphgeo(slat, slon, 35.0, 140.0)
    compare(f"sphgeo: 1,000,000 stations, {label}", lambda: kivf.sphgeo(slat, slon, 35.0, 140.0),
            lambda: np_sphgeo(slat, slon, 35.0, 140.0), 10, 2)
    print(f"sphgeo: numpy ({label}) bit-identical to kivf.sphgeo:", same_bits(ours, base))
    return slat, slon, ours


def main():
    if sys.argv[1:] == ["--sphgeo-libm"]:
        sphgeo_bench("numpy on libm")
        return
    rng = np.random.default_rng(1)
    with tempfile.TemporaryDirectory() as d:
        big = os.path.join(d, "big.kiv")
        kivf.write(big, rng.standard_normal(1_000_000), delta=0.01)
        small = [os.path.join(d, f"s{i}.kiv") for i in range(1000)]
        for p in small:
            kivf.write(p, rng.standard_normal(1000), delta=0.01)
        assert np.array_equal(kivf.read(big).data, np_read(big)[2])
        compare("read: one file of 1,000,000 samples", lambda: kivf.read(big),
                lambda: np_read(big), 30, 1)
        compare("read: 1,000 files of 1,000 samples",
                lambda: [kivf.read(p) for p in small], lambda: [np_read(p) for p in small], 10, 1)

    print(f"({os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f})")
    slat, slon, ours = sphgeo_bench("numpy as installed")
    subprocess.run([sys.executable, __file__, "--sphgeo-libm"], check=True,
                   env={**os.environ, "NPY_DISABLE_CPU_FEATURES": NO_SIMD})
    mex = sys.argv[1] if len(sys.argv) > 1 else ""
    if mex and shutil.which("octave-cli"):
        with tempfile.TemporaryDirectory() as d:
            np.stack([slat, slon], axis=1).tofile(os.path.join(d, "in"))
            subprocess.run(["octave-cli", "--norc", "--quiet", "--eval",
                            f"addpath('{mex}'); x = fread(fopen('{d}/in'), [2, Inf], 'double');"
                            "[a, b, c, e] = sphgeo(x(1, :), x(2, :), 35, 140);"
                            f"f = fopen('{d}/out', 'w'); fwrite(f, real([a; b; c; e]), 'double');"],
                           check=True)
            plug = np.fromfile(os.path.join(d, "out")).reshape(-1, 4).T
        print("sphgeo: kivf.sphgeo bit-identical to the plug-in in Octave:",
              same_bits(ours, plug))
    else:
        print("sphgeo: plug-in comparison skipped (no octave-cli or no SPHGEO_DIR given)")


if __name__ == "__main__":
    main()
