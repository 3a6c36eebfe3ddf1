# SPDX-License-Identifier: Apache-2.0
"""kivf from many threads at once: the same results as one thread gives."""
import pickle
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kivf


def _got(t):  # a read trace, bit for bit: its header fields and the bytes of its arrays
    return ({k: v.tobytes() if isinstance(v, np.generic) else v for k, v in t.header.items()},
            t.data.tobytes(), None if t.x is None else t.x.tobytes())


def test_a_thread_pool_reads_writes_and_fails_as_one_thread_does(tmp_path):
    rng, paths = np.random.default_rng(11), [tmp_path / f"f{i:04d}.kiv" for i in range(1000)]
    for i, p in enumerate(paths):
        y = rng.normal(0, 1e3, 1 + i % 97).astype(np.float32)
        x = np.cumsum(rng.random(y.size)).astype(np.float32) if i % 5 == 0 else None
        kivf.write(p, y, x=x, delta=0.01, b=i / 8, kstnm=f"S{i}", nzyear=2020, nzjday=1 + i % 365)
    (tmp_path / "not.kiv").write_bytes(b"x" * 700)

    def copy(i):  # read, written again under another name, read back; or a failure
        if i >= len(paths):
            with pytest.raises(kivf.KivError) as e:
                kivf.read(tmp_path / ("not.kiv" if i % 2 else f"none{i}.kiv"))
            return type(e.value), e.value.number, str(e.value), getattr(e.value, "errno", None)
        kivf.read(paths[i]).write(tmp_path / f"c{i:04d}.kiv")
        return _got(kivf.read(tmp_path / f"c{i:04d}.kiv"))
    serial = [_got(kivf.read(p)) for p in paths]
    with ThreadPoolExecutor(8) as pool:
        assert list(pool.map(lambda p: _got(kivf.read(p)), paths)) == serial
        got = list(pool.map(copy, range(len(paths) + 100)))
    assert got[:len(paths)] == serial
    for i, failed in enumerate(got[len(paths):], len(paths)):
        assert failed == ((kivf.KivValueError, 1412, "ERROR 1412: Not a KIV file: no header "
                           f"version 6 at byte 304 in either byte order: {tmp_path}/not.kiv", None)
                          if i % 2 else (kivf.KivFileNotFoundError, 1410, "ERROR 1410: KIV file "
                                         f"does not exist: {tmp_path}/none{i}.kiv", 2))


def test_a_trace_pickled_for_another_process_writes_the_same_file(tmp_path):
    kivf.write(tmp_path / "a.kiv", np.arange(5, dtype=np.float32), delta=0.5,
               kevnm="sixteen chars ok", nzyear=2021, nzjday=9, user9=np.float32(-0.0))
    (t := pickle.loads(pickle.dumps(kivf.read(tmp_path / "a.kiv")))).write(tmp_path / "b.kiv")
    assert (tmp_path / "b.kiv").read_bytes() == (tmp_path / "a.kiv").read_bytes() and \
        t.header["KEVNM"] == "sixteen chars ok"
