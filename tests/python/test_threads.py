"""kivf from many threads at once: the same results as one thread gives."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kivf

FILES = 1000


def _check(result):
    """What a read gives, bit for bit: the header's fields and the samples' bytes."""
    t = result
    return {k: (v.tobytes() if isinstance(v, np.generic) else v) for k, v in t.header.items()}, \
        t.data.tobytes(), None if t.x is None else t.x.tobytes()


def test_a_thread_pool_reads_and_writes_as_one_thread_does(tmp_path):
    rng = np.random.default_rng(11)
    paths = [tmp_path / f"f{i:04d}.kiv" for i in range(FILES)]
    for i, p in enumerate(paths):
        y = rng.normal(0, 1e3, 1 + i % 97).astype(np.float32)
        x = np.cumsum(rng.random(y.size)).astype(np.float32) if i % 5 == 0 else None
        kivf.write(p, y, x=x, delta=0.01, b=i / 8, kstnm=f"S{i}", nzyear=2020, nzjday=1 + i % 365)
    serial = [_check(kivf.read(p)) for p in paths]
    with ThreadPoolExecutor(8) as pool:
        threaded = list(pool.map(lambda p: _check(kivf.read(p)), paths))
    assert threaded == serial

    # Writes from the pool: every file back as the one-thread read gave it, under another name.
    def copy(i):
        t = kivf.read(paths[i])
        t.write(tmp_path / f"c{i:04d}.kiv")
        return _check(kivf.read(tmp_path / f"c{i:04d}.kiv"))
    with ThreadPoolExecutor(8) as pool:
        assert list(pool.map(copy, range(FILES))) == serial


def test_failures_from_many_threads_keep_their_own_texts(tmp_path):
    (tmp_path / "not.kiv").write_bytes(b"x" * 700)

    def fail(i):
        path = tmp_path / ("not.kiv" if i % 2 else f"missing{i}.kiv")
        with pytest.raises(kivf.KivError) as e:
            kivf.read(path)
        return type(e.value), e.value.number, str(e.value), getattr(e.value, "errno", None)
    with ThreadPoolExecutor(8) as pool:
        got = list(pool.map(fail, range(200)))
    for i, (kind, number, text, errno) in enumerate(got):
        if i % 2:
            assert (kind, number, text) == (
                kivf.KivValueError, 1412, "ERROR 1412: Not a KIV file: no header version 6 at "
                f"byte 304 in either byte order: {tmp_path}/not.kiv")
        else:
            assert (kind, number, text, errno) == (
                kivf.KivFileNotFoundError, 1410,
                f"ERROR 1410: KIV file does not exist: {tmp_path}/missing{i}.kiv", 2)


def test_a_trace_pickled_for_another_process_writes_the_same_file(tmp_path):
    import pickle
    kivf.write(tmp_path / "a.kiv", np.arange(5, dtype=np.float32), delta=0.5, kevnm="sixteen chars ok",
               nzyear=2021, nzjday=9, user9=np.float32(-0.0))
    t = pickle.loads(pickle.dumps(kivf.read(tmp_path / "a.kiv")))
    t.write(tmp_path / "b.kiv")
    assert (tmp_path / "b.kiv").read_bytes() == (tmp_path / "a.kiv").read_bytes()
    assert t.header["KEVNM"] == "sixteen chars ok"
