#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Runs every sh, python, octave (matlab) and cpp block of README.md and docs/*.md against a
build tree, and checks the README's length, first commands and apt-get line; docs/building.md
says how. --selftest checks the checks on altered copies instead.
Usage: docexamples.py --source DIR --build DIR --work DIR [--cxx CXX] [--python PYTHON] [--sanitized]
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

RUN = {"sh", "python", "octave", "matlab", "cpp"}
SHOWN = {"", "text", "console", "cmake"}  # never run: output, and build files for another project
NO_EXAMPLES = {"docs/building.md"}  # its commands build trees of their own, or install as root
SKIPPED_PAGES = {"docs/scaleout.md", "docs/design.md"}  # tests/scaleout.sh runs the one
README_COMMANDS = ["examples/demo.sh", "cmake --workflow --preset default"]
README_MAX_LINES = 200
TIMEOUT = 300
PRELUDE = "".join(f"#include {h}\n" for h in ('"dff/dff.h"', '"msg/msg.h"', "<array>", "<cstdint>",
                                             "<cstdio>", "<iostream>", "<string>", "<vector>"))


class Block:
    def __init__(self, page, line, lang, lines):
        self.where, self.lang, self.lines = f"{page}:{line}", lang, lines
        m = re.match(r"^(#|%|//)\s*(.*)$", lines[0].strip() if lines else "")
        note = m.group(2) if m else ""
        # None: runs; "": marked without a reason (refused by static_checks)
        self.not_run = None if not note.startswith("not run") else note[8:].strip() if note[7:8] == ":" else ""
        s = re.search(r"\bexit status (\d+)\b", note)
        self.status = int(s.group(1)) if s else 0
        self.fragment = bool(re.match(r"fragment\b", note))
        self.text = "\n".join(lines) + "\n"


def blocks(path, name):
    """The fenced blocks of a page; an unclosed fence is an error."""
    out, open_at, body = [], None, []
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = re.match(r"^\s*```+\s*([A-Za-z0-9_+-]*)\s*$", line)
        if open_at is None and m:
            open_at, lang, body = n, m.group(1).lower(), []
        elif open_at is not None and re.match(r"^\s*```+\s*$", line):
            out.append(Block(name, open_at, lang, body))
            open_at = None
        elif open_at is not None:
            body.append(line)
    if open_at is not None:
        raise SystemExit(f"FAIL {name}:{open_at}: a fenced block is never closed")
    return out


def apt_lines(text):
    """The packages of each apt-get install line (lines ending in a backslash joined)."""
    lines = [shlex.split(re.sub(r"\s#.*$", "", l)) for l in re.sub(r"\\\n", " ", text).splitlines()
             if re.search(r"\bapt-get\s+install\b", l)]
    return [{w for w in l[l.index("install") + 1:] if not w.startswith(("-", "<", ">")) and "=" not in w}
            for l in lines]


def static_checks(src, pages):
    fails = []
    text = (src / "README.md").read_text(encoding="utf-8")
    if len(text.splitlines()) > README_MAX_LINES:
        fails.append(f"README.md has {len(text.splitlines())} lines, more than {README_MAX_LINES}")
    # The title, then at once the block of the two commands.
    first = re.match(r"[^\n]*\n\s*```[^\n]*\n(.*?)```", text, re.S)
    for cmd in README_COMMANDS:
        if not first or not re.search(rf"^{re.escape(cmd)}(\s|$)", first.group(1), re.M):
            fails.append(f"README.md: the first thing after the title is not the block with '{cmd}'")
    apt, ci = apt_lines(text), apt_lines((src / ".ci" / "run").read_text(encoding="utf-8"))
    for name, lines in (("README.md", apt), (".ci/run", ci)):
        if len(lines) != 1:
            fails.append(f"{name}: {len(lines)} apt-get install lines, expected one")
    if len(apt) == 1 == len(ci) and apt != ci:
        fails.append(f"README.md: apt-get install differs from .ci/run: missing {sorted(ci[0] - apt[0])}, "
                     f"not in .ci/run {sorted(apt[0] - ci[0])}")
    for name, bs in pages.items():
        for b in bs:
            if b.lang not in RUN | SHOWN:
                fails.append(f"{b.where}: language '{b.lang}' is neither run nor shown")
            elif b.lang in RUN and b.not_run == "":
                fails.append(f"{b.where}: 'not run' without a reason")
        if name not in NO_EXAMPLES and not any(b.lang in RUN and b.not_run is None for b in bs):
            fails.append(f"{name}: no example that runs")
    return fails


class Runner:
    def __init__(self, args):
        self.src, self.build, self.work = Path(args.source), Path(args.build), Path(args.work)
        self.python, self.sanitized = args.python, args.sanitized
        self.cxx = args.cxx if args.cxx and shutil.which(args.cxx) else None
        self.prefix = self.work / "prefix"
        py = (self.build / "python" / "kivf" / "__init__.py").exists()
        imports = lambda mod: py and subprocess.run([self.python, "-c", f"import {mod}"],
                                                    capture_output=True).returncode == 0
        ms = all((self.build / p / p).exists() for p in ("msxlate", "kiv2ms"))
        # What an example may need, and why it is missing when it is.
        self.missing = {
            "python": None if py else "the kivf Python module is not built",
            "mseed": None if ms else "msxlate and kiv2ms are not built (no libmseed)",
            "matplotlib": None if imports("matplotlib") else "matplotlib is not installed",
            "scipy": None if imports("scipy") else "scipy is not installed",
            "octave": None if shutil.which("octave-cli") else "octave-cli is not installed",
            "sphgeo": "the plug-in cannot be loaded by Octave in a sanitizer build" if self.sanitized else None,
            "cxx": "the library is built with sanitizers" if self.sanitized
            else None if self.cxx else f"the compiler {args.cxx or '(none given)'} is missing",
        }
        paths = [str(self.build / d) for d in ("wfdxlate", "msxlate", "kiv2ms", "kivhdr", "kivf")]
        self.env = dict(os.environ, PATH=os.pathsep.join(paths + [os.environ.get("PATH", "/usr/bin:/bin")]),
                        KIVAUX=str(self.src / "kivaux"), PYTHONPATH=str(self.build / "python"),
                        PKG_CONFIG_PATH=str(self.prefix / "lib" / "pkgconfig"), MPLBACKEND="Agg",
                        LC_ALL="C.UTF-8")
        self.counts = {"passed": 0, "failed": 0, "skipped": 0, "not run": 0}
        self.failed = []

    def lacking(self, b):
        """Why the block cannot run here: what it needs that is missing."""
        t, octave = b.text, b.lang in ("octave", "matlab")
        py = b.lang == "python" or re.search(r"\bkivf (info|plot|spans|cut|merge)\b|-m kivf\b", t)
        needs = {"python": py, "matplotlib": py and re.search(r"\bplot\b|\bfigure\(", t),
                 "scipy": py and re.search(r"\.filter\(|\.decimate\(|--filter\b", t), "mseed": "mseed" in t,
                 "octave": octave, "sphgeo": octave and re.search(r"sphgeo|kivwrite", t),  # kivwrite: distances
                 "cxx": b.lang == "cpp" or re.search(r"\bpkg-config\b|\bg\+\+|\bc\+\+ ", t)}
        return [self.missing[k] for k, need in needs.items() if need and self.missing[k]]

    def setup(self):
        """The demo's output, made by examples/demo.sh; the build installed for C++."""
        out = self.work / "demo"
        env = dict(self.env, KIVF_DEMO_BUILD=str(self.build), KIVF_DEMO_OUT=str(out))
        runs = [(["bash", str(self.src / "examples" / "demo.sh")], env, "examples/demo.sh")]
        if not self.missing["cxx"]:
            runs.append((["cmake", "--install", str(self.build), "--prefix", str(self.prefix)], None, "install"))
        for cmd, env, name in runs:
            r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=TIMEOUT)
            if r.returncode != 0:
                sys.stdout.write(r.stdout + r.stderr)
                raise SystemExit(f"FAIL {name} ended with status {r.returncode}")
        return out

    def command(self, b, d):
        """Writes the example into d; returns the command that runs it, or a failure text."""
        if b.lang != "cpp":
            dirs = [self.build / "octave"] + ([] if self.sanitized else [self.build / "sphgeo"])
            octave = ["octave-cli", "--norc", "--quiet", "--no-history", "--no-window-system", "--eval",
                      "".join(f"addpath('{p}'); " for p in dirs) + "source('example.m')"]
            name, cmd = {"sh": ("example.sh", ["/bin/sh", "-e", "example.sh"]),
                         "python": ("example.py", [self.python, "example.py"])}.get(b.lang, ("example.m", octave))
            (d / name).write_text(b.text)
            return cmd
        code = b.text
        if b.fragment:  # statements wrapped into main(), their own #include lines first
            incl = [l for l in b.lines if l.startswith("#include")]
            body = ["    " + l for l in b.lines if not l.startswith("#include")]
            code = PRELUDE + "\n".join(incl + ["int main() {"] + body + ["    return 0;", "}", ""])
        elif not re.search(r"\bint\s+main\s*\(", code):
            return "a C++ example without main() that is not marked '// fragment'"
        (d / "example.cpp").write_text(code)
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "kivf"], env=self.env,
                               capture_output=True, text=True).stdout.split()
        r = subprocess.run([self.cxx, "-std=c++20", "-Wall", "-Wextra", "-Werror", "example.cpp", "-o",
                            "example", *flags, f"-Wl,-rpath,{self.prefix / 'lib'}"],
                           cwd=d, capture_output=True, text=True, timeout=TIMEOUT)
        return ["./example"] if r.returncode == 0 else "it does not compile:\n" + r.stdout + r.stderr

    def run(self, b, demo, n):
        why = self.lacking(b)
        if b.not_run is not None or why:
            marked = b.not_run is not None
            self.counts["not run" if marked else "skipped"] += 1
            print(f"{'--  ' if marked else 'SKIP'} {b.where} [{b.lang}] {'not run: ' + b.not_run if marked else '; '.join(why)}")
            return
        d = self.work / "examples" / f"{n:03d}"
        shutil.copytree(demo, d, symlinks=True)
        status, output = None, self.command(b, d)  # a text: why it cannot run
        if not isinstance(output, str):
            try:
                r = subprocess.run(output, cwd=d, env=self.env, stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True, timeout=TIMEOUT)
                status, output = r.returncode, r.stdout + r.stderr
            except subprocess.TimeoutExpired:
                output = f"it ran for more than {TIMEOUT} s"
        if status == b.status:
            self.counts["passed"] += 1
            print(f"ok   {b.where} [{b.lang}] status {status}")
            shutil.rmtree(d)
            return
        self.counts["failed"] += 1
        self.failed.append(b.where)
        print(f"FAIL {b.where} [{b.lang}] status {status}, expected {b.status} (in {d})")
        tail = output.rstrip().splitlines()[-40:]  # a failing run's last words say why
        print("     " + "\n     ".join(b.text.rstrip().splitlines() + ["---"] + tail))


def selftest(src, work):
    """Each fault in an altered README, .ci/run or page must be found; a block's status must
    decide whether it passes, and each block must run in a fresh copy of the demo's output."""
    readme = (src / "README.md").read_text(encoding="utf-8")
    ci = (src / ".ci" / "run").read_text(encoding="utf-8")
    page = "# P\n\n```sh\necho ok\n```\n"
    apt = next(l for l in readme.splitlines() if "apt-get install" in l)
    cases = [  # (README, .ci/run, docs/p.md, a text the failures must hold; None: no failure)
        (readme, ci, page, None),
        (readme.replace(apt, apt + " extra-pkg"), ci, page, "not in .ci/run ['extra-pkg']"),
        (readme, ci.replace(" lld ", " lld newdep "), page, "missing ['newdep']"),
        (readme + "\n" + apt + "\n", ci, page, "README.md: 2 apt-get install lines"),
        (readme + "\n" * (README_MAX_LINES + 1), ci, page, "more than 200"),
        (readme.replace("\n```sh\n", "\nText first.\n\n```sh\n", 1), ci, page, "first thing after the title"),
        (readme, ci, page.replace("```sh", "```shell"), "language 'shell'"),
        (readme, ci, page.replace("echo ok", "# not run:\necho ok"), "without a reason"),
        (readme, ci, page.replace("echo ok", "# not run: needs root\necho ok"), "docs/p.md: no example that runs"),
        (readme, ci, "```sh\n```\n```sh\n", "docs/p.md:3: a fenced block is never closed"),
    ]
    bad = 0
    d = work / "selftest"
    for r, c, p, want in cases:
        for name, text in (("README.md", r), (".ci/run", c), ("docs/p.md", p)):
            (d / name).parent.mkdir(parents=True, exist_ok=True)
            (d / name).write_text(text)
        try:
            fails = static_checks(d, {n: blocks(d / n, n) for n in ("README.md", "docs/p.md")})
        except SystemExit as e:
            fails = [str(e)]
        found = any(want in f for f in fails) if want else not fails
        print(f"{'ok  ' if found else 'FAIL'} {want or 'unchanged'}: {fails or 'no failure'}")
        bad += not found
    demo = work / "selftest-demo"
    demo.mkdir()
    ns = argparse.Namespace(source=str(src), build=str(work / "no-build"), work=str(work),
                            cxx="", python=sys.executable, sanitized=False)
    # The marker pair twice: what one example makes, the next never sees.
    for i, (text, passes) in enumerate((("true", True), ("exit 3", False), ("# exit status 3\nexit 3", True),
                                        ("# exit status 3\ntrue", False), ("false\ntrue", False),
                                        ("test ! -e marker\nmkdir marker", True),
                                        ("test ! -e marker\nmkdir marker", True)), 1):
        r = Runner(ns)
        r.run(Block("selftest", i, "sh", text.split("\n")), demo, i)
        if (r.counts["passed"] == 1) != passes:
            print(f"FAIL {text!r} should {'pass' if passes else 'fail'}")
            bad += 1
    if any(demo.iterdir()):
        print(f"FAIL an example wrote into the demo's output: {sorted(os.listdir(demo))}")
        bad += 1
    print("selftest: " + ("FAILED" if bad else "every fault found"))
    return 1 if bad else 0


def main():
    ap = argparse.ArgumentParser()
    for a in ("--source", "--build", "--work"):
        ap.add_argument(a, required=True)
    ap.add_argument("--cxx", default="")
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("--sanitized", action="store_true")
    ap.add_argument("--selftest", action="store_true", help="check the checks; runs no example")
    args = ap.parse_args()
    src = Path(args.source)
    shutil.rmtree(args.work, ignore_errors=True)
    Path(args.work).mkdir(parents=True)
    if args.selftest:
        return selftest(src, Path(args.work))
    names = ["README.md"] + sorted(f"docs/{p.name}" for p in (src / "docs").glob("*.md"))
    pages = {n: blocks(src / n, n) for n in names if n not in SKIPPED_PAGES}
    if pages["README.md"] and pages["README.md"][0].not_run is None:  # checked by static_checks
        pages["README.md"][0].not_run = "the two leading commands build trees of their own"
    fails = static_checks(src, pages)
    for f in fails:
        print(f"FAIL {f}")
    runner = Runner(args)
    demo = runner.setup()
    examples = [b for bs in pages.values() for b in bs if b.lang in RUN]
    for n, b in enumerate(examples, 1):
        runner.run(b, demo, n)
    c = runner.counts
    print(f"{len(examples)} examples in {len(pages)} pages: {c['passed']} passed, {c['failed']} failed "
          f"{runner.failed}, {c['skipped']} skipped (what they need is missing), {c['not run']} marked not run")
    return 1 if fails or runner.failed else 0


if __name__ == "__main__":
    sys.exit(main())
