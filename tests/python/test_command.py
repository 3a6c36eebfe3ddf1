# SPDX-License-Identifier: Apache-2.0
"""The command kivf: the build tree's and an installed one, run by the interpreter the package was
built for whatever python3 comes first on PATH, against python3 -m kivf."""
import os
import re
import stat
import subprocess
import sys

import numpy as np
import pytest

import kivf

BIN = os.environ.get("KIVF_BINARY_DIR", "")
COMMAND = f"{BIN}/kivf/kivf"
COMMANDS = ("info", "plot", "spans", "cut", "merge")


def cached(name):
    """A value of the build's CMake cache."""
    with open(f"{BIN}/CMakeCache.txt") as f:
        return next(l.split("=", 1)[1].rstrip("\n") for l in f if l.startswith(f"{name}:"))


PYTHON = cached("Python3_EXECUTABLE")


def run(args, cwd, env=None):
    p = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


def module(args, cwd):
    """What python3 -m kivf (the build tree's package) gives."""
    env = {**os.environ, "PYTHONPATH": f"{BIN}/python"}
    return run([sys.executable, "-m", "kivf", *args], cwd, env)


def as_command(got):
    """A result of python3 -m kivf as the command gives it: only the program's name differs."""
    return got[0], *(t.replace("python3 -m kivf", "kivf") for t in got[1:])


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Two KIV files and the values their headers must show, from the samples written."""
    d = tmp_path_factory.mktemp("files")
    a = np.array([1.5, -2.0, 7.25, 0.0], np.float32)
    b = np.arange(-50, 70, dtype=np.float32) / 8
    kivf.write(d / "a.kiv", a, delta=0.25, kstnm="ANMO")
    kivf.write(d / "b.kiv", b, delta=0.01, kstnm="KONO")
    return d, {"a.kiv": a, "b.kiv": b}


@pytest.fixture
def fake_python(tmp_path):
    """A directory whose python3 and python fail, for the front of PATH."""
    d = tmp_path / "fake"
    d.mkdir()
    for name in ("python3", "python"):
        (d / name).write_text("#!/bin/sh\necho 'not this python' >&2\nexit 1\n")
        (d / name).chmod(0o755)
    return d


def check_blocks(out, names, samples):
    """info's blocks name the files in order and show their samples' count and extremes."""
    blocks = out.split("\n\n")
    assert len(blocks) == len(names)
    for block, name in zip(blocks, names):
        f = {l.split()[0]: l.split()[1] for l in block.splitlines() if len(l.split()) > 1}
        x = samples[name]
        assert f["FILENAME"] == name and f["NPTS"] == str(len(x))
        assert float(f["DEPMIN"]) == x.min() and float(f["DEPMAX"]) == x.max()


CASES = [("info a.kiv", 0, ["a.kiv"]), ("info --all b.kiv a.kiv", 0, ["b.kiv", "a.kiv"]),
         ("info --list STD a.kiv b.kiv", 0, ["a.kiv", "b.kiv"]),
         ("info a.kiv missing.kiv", 2, ["a.kiv"]), ("info --list NOPE a.kiv", 1, None),
         ("info", 1, None), ("nope", 1, None), ("", 1, None),  # argparse's usage, naming kivf
         *((f"{c} --help", 0, None) for c in ("", *COMMANDS))]


@pytest.mark.parametrize("args, status, names", CASES)
def test_as_the_module_gives_it(files, args, status, names):
    d, samples = files
    got, mod = run([COMMAND, *args.split()], d), module(args.split(), d)
    assert got[0] == mod[0] == status and (got[2] == "") == (status == 0)
    if names or status:
        assert got == as_command(mod)
    if names:
        check_blocks(got[1], names, samples)
    elif status == 0:  # help; python3 -m kivf keeps its own name (and wraps lines to it)
        cmd = args[:-len(" --help")]
        assert got[1].startswith(f"usage: kivf {cmd} [-h]" if cmd else "usage: kivf [-h] {")
        assert "python3 -m" not in got[1] and mod[1].startswith("usage: python3 -m kivf")
        assert cmd or sorted(re.search(r"\{([a-z,]+)\}", got[1])[1].split(",")) == sorted(COMMANDS)
    elif status == 1 and "--list" not in args:
        assert got[2].startswith("usage: kivf ")


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """The runtime component installed into a prefix of its own, then moved elsewhere whole."""
    top = tmp_path_factory.mktemp("install")
    subprocess.run([cached("CMAKE_COMMAND"), "--install", BIN, "--prefix", top / "prefix",
                    "--component", "runtime"], check=True, capture_output=True)
    (top / "prefix").rename(top / "moved")
    return top / "moved"


def test_installed_command(installed, files, fake_python, tmp_path):
    d, samples = files
    command = installed / "bin" / "kivf"
    assert stat.S_IMODE(command.stat().st_mode) == 0o755
    assert command.read_text().splitlines()[0] == f"#!{PYTHON}"
    assert (installed / "share" / "man" / "man1" / "kivf.1").is_file()
    inits = list(installed.rglob("kivf/__init__.py"))  # where the package went
    assert len(inits) == 1
    # A clean environment, the failing python3 first on PATH, another kivf on PYTHONPATH: the
    # moved copy's package, no other, whether the command is found on PATH or linked to.
    (tmp_path / "other" / "kivf").mkdir(parents=True)
    (tmp_path / "other" / "kivf" / "__init__.py").write_text("raise ImportError('other')\n")
    env = {"PATH": f"{fake_python}:{command.parent}:/usr/bin:/bin", "HOME": str(d),
           "PYTHONPATH": str(tmp_path / "other"), "PYTHONVERBOSE": "1"}
    status, out, err = run(["kivf", "--help"], d, env)
    assert status == 0 and out.startswith("usage: kivf [-h] {")
    assert os.path.realpath(inits[0]) in err and f"{BIN}/python" not in err
    del env["PYTHONVERBOSE"]
    os.symlink(command, tmp_path / "kivf")
    status, out, err = run([tmp_path / "kivf", "info", "b.kiv", "a.kiv"], d, env)
    assert (status, err) == (0, "")
    check_blocks(out, ["b.kiv", "a.kiv"], samples)
