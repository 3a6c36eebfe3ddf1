#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Runs the examples of README.md and docs/*.md against a build tree.

Every fenced block whose language is sh, python, octave (or matlab) or cpp is
an example. It runs as written, in a fresh copy of the demo's output (made
first by examples/demo.sh from the programs of the build under test), with
the build's programs on PATH, KIVAUX the source's kivaux/, the build's
python/ on PYTHONPATH and its octave/ and sphgeo/ on Octave's path; C++ is
compiled against the build installed into a scratch prefix (whose
lib/pkgconfig is on PKG_CONFIG_PATH, for examples that build with
pkg-config). A first-line comment changes that:

    # not run: REASON     the block is shown only (root, a cluster, /archive ...)
    # exit status N       the block must end with status N (a refusal shown)
    // fragment           C++ statements: wrapped into main() with the usual includes

Blocks of output have no language, or text or console, and are not run.
Also checked: README.md is at most 200 lines, begins with the two commands,
and its one apt-get line installs exactly what .ci/run installs.

Usage: docexamples.py --source DIR --build DIR --work DIR [--cxx CXX]
                      [--python PYTHON] [--sanitized]
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

RUN = {"sh": "sh", "python": "python", "octave": "octave", "matlab": "octave", "cpp": "cpp"}
SHOWN = {"", "text", "console", "cmake"}  # never run: output, and build files for another project
NO_EXAMPLES = {  # pages whose every command is marked not run, and why
    "docs/building.md": "its commands build trees of their own, install as root or run benchmarks",
}
SKIPPED_PAGES = {"docs/scaleout.md", "docs/design.md"}  # tested elsewhere, or no commands
README_COMMANDS = ["examples/demo.sh", "cmake --workflow --preset default"]
README_MAX_LINES = 200
TIMEOUT = 300
FRAGMENT_PRELUDE = """#include "dff/dff.h"
#include "msg/msg.h"
#include <array>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>
"""


class Block:
    def __init__(self, page, line, lang, lines):
        self.page, self.line, self.lang, self.lines = page, line, lang, lines
        first = lines[0].strip() if lines else ""
        m = re.match(r"^(#|%|//)\s*(.*)$", first)
        note = m.group(2) if m else ""
        self.not_run = note[len("not run:"):].strip() if note.startswith("not run:") else None
        if note.startswith("not run") and not self.not_run:
            self.not_run = ""  # a mark without its reason: refused below
        s = re.search(r"\bexit status (\d+)\b", note)
        self.status = int(s.group(1)) if s else 0
        self.fragment = bool(re.match(r"fragment\b", note))

    @property
    def where(self):
        return f"{self.page}:{self.line}"

    @property
    def text(self):
        return "\n".join(self.lines) + "\n"


def blocks(path, name):
    """The fenced blocks of a page, with the line each begins on; an unclosed fence is an error."""
    out, open_at, lang, body = [], None, None, []
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = re.match(r"^\s*```+\s*([A-Za-z0-9_+-]*)\s*$", line)
        if open_at is None:
            if m:
                open_at, lang, body = n, m.group(1).lower(), []
        elif re.match(r"^\s*```+\s*$", line):
            out.append(Block(name, open_at, lang, body))
            open_at = None
        else:
            body.append(line)
    if open_at is not None:
        raise SystemExit(f"FAIL {name}:{open_at}: a fenced block is never closed")
    return out


def ci_packages(run):
    """The packages of .ci/run's apt-get install (its lines joined where they end in a backslash)."""
    text = re.sub(r"\\\n", " ", run.read_text(encoding="utf-8"))
    lines = [l for l in text.splitlines() if re.search(r"\bapt-get\s+install\b", l)]
    if len(lines) != 1:
        raise SystemExit(f"FAIL .ci/run: {len(lines)} apt-get install lines, expected one")
    return install_list(lines[0])


def install_list(line):
    words = shlex.split(re.sub(r"\s#.*$", "", line))
    words = words[words.index("install") + 1:]
    return {w for w in words if not w.startswith(("-", "<", ">")) and "=" not in w}


def static_checks(src, pages):
    fails = []
    readme = (src / "README.md").read_text(encoding="utf-8").splitlines()
    if len(readme) > README_MAX_LINES:
        fails.append(f"README.md has {len(readme)} lines, more than {README_MAX_LINES}")
    # The title, then at once the block of the two commands.
    rest = [l for l in readme[1:] if l.strip()]
    first = []
    if rest and rest[0].startswith("```"):
        for l in rest[1:]:
            if l.startswith("```"):
                break
            first.append(l)
    for cmd in README_COMMANDS:
        if not any(re.match(rf"^{re.escape(cmd)}(\s|$)", l) for l in first):
            fails.append(f"README.md: the first thing after the title is not the block with '{cmd}'")
    apt = [(n, l) for n, l in enumerate(readme, 1) if re.search(r"\bapt-get\s+install\b", l)]
    if len(apt) != 1:
        fails.append(f"README.md: {len(apt)} apt-get install lines, expected one")
    else:
        want, have = ci_packages(src / ".ci" / "run"), install_list(apt[0][1])
        if want != have:
            fails.append(f"README.md:{apt[0][0]}: apt-get install differs from .ci/run: "
                         f"missing {sorted(want - have)}, not in .ci/run {sorted(have - want)}")
        else:
            print(f"ok   README.md:{apt[0][0]} apt-get install: the {len(want)} packages of .ci/run")
    for name, bs in pages.items():
        for b in bs:
            if b.lang not in RUN and b.lang not in SHOWN:
                fails.append(f"{b.where}: language '{b.lang}' is neither run ({', '.join(sorted(RUN))}) "
                             f"nor shown ({', '.join(sorted(SHOWN - {''}))} or none)")
            elif b.lang in RUN and b.not_run == "":
                fails.append(f"{b.where}: 'not run' without a reason")
        runnable = [b for b in bs if b.lang in RUN and b.not_run is None]
        if not runnable and name not in NO_EXAMPLES:
            fails.append(f"{name}: no example that runs")
    return fails


class Runner:
    def __init__(self, args):
        self.src, self.build, self.work = Path(args.source), Path(args.build), Path(args.work)
        self.python = args.python
        self.sanitized = args.sanitized
        self.cxx = args.cxx if args.cxx and shutil.which(args.cxx) else None
        self.prefix = self.work / "prefix"
        prog = lambda name: self.build / name / name
        py = (self.build / "python" / "kivf" / "__init__.py").exists()
        imports = lambda mod: py and subprocess.run(
            [self.python, "-c", f"import {mod}"], capture_output=True).returncode == 0
        # What an example may need, and why it is missing when it is.
        self.missing = {
            "python": None if py else "the kivf Python module is not built",
            "mseed": None if prog("msxlate").exists() and prog("kiv2ms").exists()
            else "msxlate and kiv2ms are not built (no libmseed)",
            "matplotlib": None if imports("matplotlib") else "matplotlib is not installed",
            "scipy": None if imports("scipy") else "scipy is not installed",
            "octave": None if shutil.which("octave-cli") else "octave-cli is not installed",
            "sphgeo": "the plug-in cannot be loaded by Octave in a sanitizer build"
            if self.sanitized else None,
            "cxx": "the library is built with sanitizers" if self.sanitized
            else None if self.cxx else f"the compiler {args.cxx or '(none given)'} is missing",
        }
        paths = [str(self.build / d) for d in ("wfdxlate", "msxlate", "kiv2ms", "kivhdr", "kivf")]
        self.env = dict(os.environ)
        self.env.update({
            "PATH": os.pathsep.join(paths + [os.environ.get("PATH", "/usr/bin:/bin")]),
            "KIVAUX": str(self.src / "kivaux"),
            "PYTHONPATH": str(self.build / "python"),
            "PKG_CONFIG_PATH": str(self.prefix / "lib" / "pkgconfig"),
            "MPLBACKEND": "Agg",
            "LC_ALL": "C.UTF-8",
        })
        self.counts = {"passed": 0, "failed": 0, "skipped": 0, "not run": 0}
        self.failed = []

    def needs(self, b):
        t = b.text
        need = set()
        if b.lang == "python" or re.search(r"\bkivf (info|plot|spans|cut|merge)\b|-m kivf\b", t):
            need.add("python")
            if re.search(r"\bplot\b|\bfigure\(", t):
                need.add("matplotlib")
            if re.search(r"\.filter\(|\.decimate\(|--filter\b", t):
                need.add("scipy")
        if re.search(r"mseed", t):
            need.add("mseed")
        if b.lang == "octave":
            need.add("octave")
            if "sphgeo" in t or "kivwrite" in t:  # kivwrite computes distances with the plug-in
                need.add("sphgeo")
        if b.lang == "cpp" or re.search(r"\bpkg-config\b|\bg\+\+|\bc\+\+ ", t):
            need.add("cxx")
        return need

    def demo(self):
        out = self.work / "demo"
        env = dict(self.env, KIVF_DEMO_BUILD=str(self.build), KIVF_DEMO_OUT=str(out))
        r = subprocess.run(["bash", str(self.src / "examples" / "demo.sh")], env=env,
                           capture_output=True, text=True, timeout=TIMEOUT)
        if r.returncode != 0:
            sys.stdout.write(r.stdout + r.stderr)
            raise SystemExit(f"FAIL examples/demo.sh ended with status {r.returncode}")
        print(f"ok   examples/demo.sh: its output in {out}")
        return out

    def install(self):
        if self.missing["cxx"]:
            return
        r = subprocess.run(["cmake", "--install", str(self.build), "--prefix", str(self.prefix)],
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.stdout.write(r.stdout + r.stderr)
            raise SystemExit("FAIL: the build cannot be installed for the C++ examples")

    def command(self, b, d):
        """Writes the example into d; returns the command that runs it, or a failure text."""
        if b.lang == "sh":
            (d / "example.sh").write_text(b.text)
            return ["/bin/sh", "-e", "example.sh"]
        if b.lang == "python":
            (d / "example.py").write_text(b.text)
            return [self.python, "example.py"]
        if b.lang == "octave":
            (d / "example.m").write_text(b.text)
            dirs = [self.build / "octave"] + ([] if self.sanitized else [self.build / "sphgeo"])
            setup = "".join(f"addpath('{p}'); " for p in dirs)
            return ["octave-cli", "--norc", "--quiet", "--no-history", "--no-window-system",
                    "--eval", f"{setup}source('example.m')"]
        # C++: a whole program, or a fragment wrapped into one.
        code = b.text
        if b.fragment:
            incl = [l for l in b.lines if l.startswith("#include")]
            body = [l for l in b.lines if not l.startswith("#include")]
            code = (FRAGMENT_PRELUDE + "\n".join(incl) + "\n\nint main() {\n" +
                    "\n".join("    " + l for l in body) + "\n    return 0;\n}\n")
        elif not re.search(r"\bint\s+main\s*\(", code):
            return "a C++ example without main() that is not marked '// fragment'"
        (d / "example.cpp").write_text(code)
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "kivf"], env=self.env,
                               capture_output=True, text=True).stdout.split()
        r = subprocess.run([self.cxx, "-std=c++20", "-Wall", "-Wextra", "-Werror", "example.cpp",
                            "-o", "example", *flags, f"-Wl,-rpath,{self.prefix / 'lib'}"],
                           cwd=d, capture_output=True, text=True, timeout=TIMEOUT)
        if r.returncode != 0:
            return "it does not compile:\n" + r.stdout + r.stderr
        return ["./example"]

    def run(self, b, demo, n):
        if b.not_run is not None:
            self.counts["not run"] += 1
            print(f"--   {b.where} [{b.lang}] not run: {b.not_run}")
            return
        why = [self.missing[k] for k in sorted(self.needs(b)) if self.missing[k]]
        if why:
            self.counts["skipped"] += 1
            print(f"SKIP {b.where} [{b.lang}] {'; '.join(why)}")
            return
        d = self.work / "examples" / f"{n:03d}"
        shutil.rmtree(d, ignore_errors=True)
        shutil.copytree(demo, d, symlinks=True)
        cmd = self.command(b, d)
        if isinstance(cmd, str):
            status, output = None, cmd
        else:
            try:
                r = subprocess.run(cmd, cwd=d, env=self.env, stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True, timeout=TIMEOUT)
                status, output = r.returncode, r.stdout + r.stderr
            except subprocess.TimeoutExpired:
                status, output = None, f"it ran for more than {TIMEOUT} s"
        if status == b.status:
            self.counts["passed"] += 1
            print(f"ok   {b.where} [{b.lang}] status {status}")
            shutil.rmtree(d)
        else:
            self.counts["failed"] += 1
            self.failed.append(b.where)
            want = f", expected {b.status}" if status is not None else ""
            print(f"FAIL {b.where} [{b.lang}] status {status}{want} (in {d})")
            tail = output.rstrip().splitlines()[-40:]  # a failing run's last words say why
            print("     " + "\n     ".join(b.text.rstrip().splitlines() + ["---"] + tail))


def selftest(src, work):
    """The checks on altered copies of the README, .ci/run and a page: each fault must be found,
    and a block's status must decide whether it passes."""
    readme = (src / "README.md").read_text(encoding="utf-8")
    ci = (src / ".ci" / "run").read_text(encoding="utf-8")
    page = "# P\n\n```sh\necho ok\n```\n"
    apt = next(l for l in readme.splitlines() if "apt-get install" in l)
    last = apt.split()[-1]
    cases = [  # (name, README, .ci/run, docs/p.md, a text the failures must hold)
        ("unchanged", readme, ci, page, None),
        ("a package left out", readme.replace(" " + last, ""), ci, page, f"missing ['{last}']"),
        ("a package added", readme.replace(apt, apt + " extra-pkg"), ci, page,
         "not in .ci/run ['extra-pkg']"),
        ("a package added to .ci/run", readme, ci.replace(" lld ", " lld newdep "), page,
         "missing ['newdep']"),
        ("two apt-get lines", readme + "\n" + apt + "\n", ci, page, "2 apt-get install lines"),
        ("too long", readme + "\n" * (README_MAX_LINES + 1), ci, page, "more than 200"),
        ("commands not first", readme.replace("\n```sh\n", "\nText first.\n\n```sh\n", 1), ci,
         page, "first thing after the title"),
        ("a language neither run nor shown", readme, ci, page.replace("```sh", "```shell"),
         "language 'shell'"),
        ("not run without a reason", readme, ci, page.replace("echo ok", "# not run:\necho ok"),
         "without a reason"),
        ("a page without an example that runs", readme, ci,
         page.replace("echo ok", "# not run: needs root\necho ok"), "docs/p.md: no example that runs"),
    ]
    bad = 0
    for name, r, c, p, want in cases:
        d = work / "selftest"
        shutil.rmtree(d, ignore_errors=True)
        (d / ".ci").mkdir(parents=True)
        (d / "docs").mkdir()
        (d / "README.md").write_text(r)
        (d / ".ci" / "run").write_text(c)
        (d / "docs" / "p.md").write_text(p)
        pages = {n: blocks(d / n, n) for n in ("README.md", "docs/p.md")}
        fails = static_checks(d, pages)
        found = any(want in f for f in fails) if want else not fails
        print(f"{'ok  ' if found else 'FAIL'} {name}: {fails if fails else 'no failure'}")
        bad += not found
    (work / "selftest" / "docs" / "q.md").write_text("```sh\n```\n```sh\n")
    try:
        blocks(work / "selftest" / "docs" / "q.md", "docs/q.md")
        print("FAIL an unclosed fence is not found")
        bad += 1
    except SystemExit as e:
        print(f"ok   an unclosed fence: {e}")
    # A block's status against the status it expects.
    demo = work / "selftest-demo"
    demo.mkdir(parents=True, exist_ok=True)
    ns = argparse.Namespace(source=str(src), build=str(work / "no-build"), work=str(work),
                            cxx="", python=sys.executable, sanitized=False)
    for i, (text, passes) in enumerate((("true", True), ("exit 3", False), ("# exit status 3\nexit 3", True),
                         ("# exit status 3\ntrue", False), ("false\ntrue", False),
                         ("test ! -e marker\nmkdir marker", True),
                         ("test ! -e marker\nmkdir marker", True)), 1):
        r = Runner(ns)
        where = "selftest, should " + ("pass" if passes else "fail")
        r.run(Block(where, i, "sh", text.split("\n")), demo, i)
        if (r.counts["passed"] == 1) != passes:
            print(f"FAIL {text!r} should {'pass' if passes else 'fail'}")
            bad += 1
    # The last two: each example has a fresh copy, so what one makes the next never sees.
    if any(demo.iterdir()):
        print(f"FAIL an example wrote into the demo's output: {sorted(os.listdir(demo))}")
        bad += 1
    print("selftest: " + ("FAILED" if bad else "every fault found"))
    return 1 if bad else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--cxx", default="")
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("--sanitized", action="store_true")
    ap.add_argument("--selftest", action="store_true", help="check the checks; runs no example")
    args = ap.parse_args()
    src = Path(args.source)
    if args.selftest:
        shutil.rmtree(args.work, ignore_errors=True)
        Path(args.work).mkdir(parents=True)
        return selftest(src, Path(args.work))
    names = ["README.md"] + sorted(f"docs/{p.name}" for p in (src / "docs").glob("*.md"))
    pages = {n: blocks(src / n, n) for n in names if n not in SKIPPED_PAGES}
    lead = pages["README.md"][0] if pages["README.md"] else None
    if lead is not None and lead.not_run is None:  # the README's two commands, checked below
        lead.not_run = "the two leading commands build trees of their own"
    fails = static_checks(src, pages)
    for f in fails:
        print(f"FAIL {f}")
    runner = Runner(args)
    shutil.rmtree(runner.work, ignore_errors=True)
    runner.work.mkdir(parents=True)
    demo = runner.demo()
    runner.install()
    n = 0
    for bs in pages.values():
        for b in bs:
            if b.lang in RUN:
                n += 1
                runner.run(b, demo, n)
    c = runner.counts
    print(f"{n} examples in {len(pages)} pages: {c['passed']} passed, {c['failed']} failed, "
          f"{c['skipped']} skipped (what they need is missing), {c['not run']} marked not run")
    if runner.failed:
        print("failed: " + " ".join(runner.failed))
    return 1 if fails or runner.failed else 0


if __name__ == "__main__":
    sys.exit(main())
