#!/usr/bin/env python3
"""Checks that the test suite catches hand-made faults in the plug-in's code.

Each mutant in tests/mutants.txt names a file under windows/ by its base name, an exact
single-line text in it and its replacement, and the tests that should notice. For each mutant
the script puts the fault in, rebuilds only the named test programs, runs only those tests and
records the outcome:
  killed     a named test failed (or hung until ctest's timeout)
  survived   every named test passed with the fault in place
  stillborn  the fault could not be put in (text not found exactly once) or did not compile
The file's original bytes are always put back, also on Ctrl-C or SIGTERM; a run killed harder
than that is repaired by the next run from <build-root>/mutation-pending.json.

  scripts/mutation-check.py [--build-root build] [--only ID...] [--out FILE]
                            [--timeout 300] [--jobs 2] [--baseline] [--dry-run]

--baseline runs the named tests once without any fault (they must all pass for the list to
mean anything) and reports which fail.
"""

import argparse
import base64
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
BUILDS = ("native", "windows")
KEYS = ("id", "in", "tests", "what", "old", "new")


class Interrupted(Exception):
    pass


def on_term(signum, frame):
    raise Interrupted()


def log(text):
    print(text, flush=True)


# ---- the list ----------------------------------------------------------------------------


def parse_mutants(path):
    """Blocks of 'key: value' lines separated by blank lines; '#' lines are comments."""
    mutants, block, errors = [], {}, []
    lines = path.read_text(encoding="utf-8").splitlines() + [""]
    for number, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                mutants.append(block)
                block = {}
            continue
        key, sep, value = line.partition(":")
        key = key.strip()
        if not sep or key not in KEYS:
            errors.append(f"{path.name}:{number}: expected one of {', '.join(KEYS)}")
            continue
        if key in block:
            errors.append(f"{path.name}:{number}: '{key}' given twice")
        # Only the one blank after the colon is syntax; the rest must match the file exactly,
        # but surrounding blanks of a single-line text never decide a match.
        block[key] = value.strip()
        block.setdefault("_line", number)
    seen = set()
    for m in mutants:
        missing = [k for k in KEYS if k not in m or (k != "new" and not m[k])]
        if missing:
            errors.append(f"mutant at line {m['_line']}: missing {', '.join(missing)}")
            continue
        if m["id"] in seen:
            errors.append(f"mutant '{m['id']}' listed twice")
        seen.add(m["id"])
        if m["old"] == m["new"]:
            errors.append(f"mutant '{m['id']}': new text equals old text")
        tests = []
        for item in m["tests"].split():
            build, sep, name = item.partition(":")
            if not sep or build not in BUILDS or not name:
                errors.append(f"mutant '{m['id']}': test '{item}' is not native:NAME or windows:NAME")
                continue
            tests.append((build, name))
        m["tests"] = tests
        m["old"] = decode_escapes(m["old"])
        m["new"] = decode_escapes(m["new"])
    return mutants, errors


def decode_escapes(text):
    # A value may need a tab; nothing else is escaped.
    return text.replace("\\t", "\t")


# ---- finding the text ----------------------------------------------------------------------


def product_files():
    out = subprocess.run(["git", "ls-files", "-z", "windows"], cwd=REPO, check=True,
                         capture_output=True).stdout
    return [REPO / p for p in out.decode("utf-8").split("\0") if p]


def locate(mutant, files):
    """Returns (path, None) or (None, reason). The named file wins when it holds the text;
    when no such file exists any more (split or renamed) or the text left it, the one file
    under windows/ that holds the text takes its place."""
    old = mutant["old"].encode("utf-8")
    named = [f for f in files if f.name == mutant["in"]]
    if len(named) > 1:
        return None, f"{len(named)} files named {mutant['in']}"
    if named:
        count = named[0].read_bytes().count(old)
        if count == 1:
            return named[0], None
        if count > 1:
            return None, f"old text occurs {count} times in {rel(named[0])}"
    holders = [f for f in files if old in f.read_bytes()]
    if len(holders) == 1:
        count = holders[0].read_bytes().count(old)
        if count == 1:
            return holders[0], None
        return None, f"old text occurs {count} times in {rel(holders[0])}"
    if not holders:
        return None, "old text not found under windows/"
    return None, "old text found in " + ", ".join(rel(f) for f in holders)


def rel(path):
    return str(path.relative_to(REPO))


# ---- putting the original back -------------------------------------------------------------


class Journal:
    """Remembers the file being mutated on disk, so a run killed without its finally block
    still gets the original back next time."""

    def __init__(self, build_root):
        self.path = build_root / "mutation-pending.json"

    def record(self, target, original):
        self.path.parent.mkdir(parents=True, exist_ok=True)
        tmp = self.path.with_suffix(".tmp")
        tmp.write_text(json.dumps({"file": str(target),
                                   "bytes": base64.b64encode(original).decode("ascii")}))
        os.replace(tmp, self.path)

    def clear(self):
        self.path.unlink(missing_ok=True)

    def repair(self):
        if not self.path.exists():
            return
        data = json.loads(self.path.read_text())
        target = Path(data["file"])
        restore(target, base64.b64decode(data["bytes"]))
        log(f"restored {rel(target)} left mutated by an earlier run")
        self.clear()


def restore(target, original):
    target.write_bytes(original)
    # A fresh time stamp, so the build tools rebuild from the original bytes.
    os.utime(target)


# ---- builds and tests ----------------------------------------------------------------------


class Runner:
    def __init__(self, args):
        self.root = (REPO / args.build_root).resolve()
        self.jobs = args.jobs
        self.timeout = args.timeout
        self.wine_started = False

    def build_dir(self, build):
        return self.root / build

    def configure(self, build):
        directory = self.build_dir(build)
        if (directory / "CMakeCache.txt").exists():
            return True
        log(f"configuring {build} in {directory}")
        return subprocess.run(["cmake", "--preset", build, "-B", str(directory)],
                              cwd=REPO).returncode == 0

    def known_tests(self, build):
        out = subprocess.run(["ctest", "--test-dir", str(self.build_dir(build)), "-N"],
                             cwd=REPO, capture_output=True, text=True).stdout
        names = set()
        for line in out.splitlines():
            line = line.strip()
            if line.startswith("Test") and "#" in line and ":" in line:
                names.add(line.split(":", 1)[1].strip())
        return names

    def build(self, build, targets):
        cmd = ["cmake", "--build", str(self.build_dir(build)), "-j", str(self.jobs),
               "--target", *targets]
        done = subprocess.run(cmd, cwd=REPO, capture_output=True, text=True)
        return done.returncode == 0, done.stdout + done.stderr

    def run_tests(self, build, names):
        """True when every named test passed. A hang ends at ctest's timeout (or, for tests
        with a longer timeout of their own, at that one) and counts as a failure."""
        pattern = "^(" + "|".join(names) + ")$"
        cmd = ["ctest", "--test-dir", str(self.build_dir(build)), "-R", pattern,
               "--timeout", str(self.timeout), "--no-tests=error", "--output-on-failure"]
        # Backstop in case ctest itself is stuck on a child that keeps its pipes open.
        limit = len(names) * (max(self.timeout, 600) + 60)
        proc = subprocess.Popen(cmd, cwd=REPO, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            return False, out + "\n(ctest did not end; stopped)"
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            raise
        return proc.returncode == 0, out

    def wine(self, action):
        prefix = self.build_dir("windows") / "wineprefix"
        subprocess.run([str(REPO / "scripts" / "wine-prefix.sh"), str(prefix), action], cwd=REPO)
        self.wine_started = action == "start"


def by_build(tests):
    grouped = {}
    for build, name in tests:
        grouped.setdefault(build, [])
        if name not in grouped[build]:
            grouped[build].append(name)
    return grouped


def try_mutant(runner, journal, mutant, target):
    """Returns (result, detail). The file's original bytes are back on return or raise."""
    original = target.read_bytes()
    old, new = mutant["old"].encode("utf-8"), mutant["new"].encode("utf-8")
    journal.record(target, original)
    try:
        target.write_bytes(original.replace(old, new, 1))
        tests = by_build(mutant["tests"])
        for build, names in tests.items():
            ok, output = runner.build(build, names)
            if not ok:
                return "stillborn", "does not compile:\n" + tail(output)
        for build, names in tests.items():
            passed, output = runner.run_tests(build, names)
            if not passed:
                return "killed", f"{build}: " + failed_lines(output)
        return "survived", ""
    finally:
        restore(target, original)
        journal.clear()


def tail(text, lines=25):
    return "\n".join(text.splitlines()[-lines:])


def failed_lines(output):
    picked = [l.strip() for l in output.splitlines()
              if "***" in l or "(Failed)" in l or "Timeout" in l or "[  FAILED  ]" in l]
    return "; ".join(dict.fromkeys(picked)) or tail(output, 5)


# ---- the report ----------------------------------------------------------------------------


def write_report(path, rows, mutants_by_id, total, finished):
    killed = sum(1 for r in rows if r[1] == "killed")
    survived = [r for r in rows if r[1] == "survived"]
    stillborn = [r for r in rows if r[1] == "stillborn"]
    width = max([len(r[0]) for r in rows] + [2])
    lines = [f"{'id':<{width}}  {'result':<9}  seconds"]
    lines += [f"{r[0]:<{width}}  {r[1]:<9}  {r[2]:7.0f}" for r in rows]
    lines.append("")
    lines.append(f"killed {killed} of {len(rows)}"
                 f" ({len(survived)} survived, {len(stillborn)} stillborn)")
    if not finished:
        lines.append(f"run stopped after {len(rows)} of {total} mutants")
    for title, group in (("survived", survived), ("stillborn", stillborn)):
        if group:
            lines.append("")
            lines.append(f"{title}:")
            for r in group:
                lines.append(f"  {r[0]}: {mutants_by_id[r[0]]['what']}")
                if r[3] and title == "stillborn":
                    lines.append("    " + r[3].splitlines()[0])
    text = "\n".join(lines) + "\n"
    if path:
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    return text


# ---- main ----------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-root", default="build",
                        help="folder holding the 'native' and 'windows' builds (default: build)")
    parser.add_argument("--only", nargs="+", metavar="ID", help="run only these mutants")
    parser.add_argument("--out", type=Path, help="write the result table here")
    parser.add_argument("--list", default="tests/mutants.txt", help="the mutants' list")
    parser.add_argument("--timeout", type=int, default=300,
                        help="seconds before a test counts as hung (killed)")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default: 2)")
    parser.add_argument("--baseline", action="store_true",
                        help="run the named tests without faults; all must pass")
    parser.add_argument("--dry-run", action="store_true",
                        help="only check that every mutant's text is found exactly once")
    args = parser.parse_args()

    mutants, errors = parse_mutants(REPO / args.list)
    if args.only:
        unknown = set(args.only) - {m["id"] for m in mutants}
        if unknown:
            errors.append("unknown mutant ids: " + ", ".join(sorted(unknown)))
        mutants = [m for m in mutants if m["id"] in args.only]
    if errors:
        for e in errors:
            print(e, file=sys.stderr)
        return 2
    if args.out and not args.out.is_absolute():
        args.out = Path.cwd() / args.out

    if args.dry_run:
        return dry_run(mutants)

    signal.signal(signal.SIGTERM, on_term)
    runner = Runner(args)
    journal = Journal(runner.root)
    journal.repair()

    builds = {b for m in mutants for b, _ in m["tests"]}
    for build in sorted(builds):
        if not runner.configure(build):
            print(f"configuring {build} failed", file=sys.stderr)
            return 2
        known = runner.known_tests(build)
        for m in mutants:
            for b, name in m["tests"]:
                if b == build and name not in known:
                    errors.append(f"mutant '{m['id']}': no test '{name}' in the {build} build")
    if errors:
        for e in errors:
            print(e, file=sys.stderr)
        return 2

    start = time.monotonic()
    rows, finished = [], False
    touched = {}
    mutants_by_id = {m["id"]: m for m in mutants}
    files = product_files()
    try:
        if "windows" in builds:
            runner.wine("start")
        if args.baseline:
            return baseline(runner, mutants)
        for index, mutant in enumerate(mutants, 1):
            began = time.monotonic()
            target, reason = locate(mutant, files)
            if target is None:
                result, detail = "stillborn", reason
            else:
                for build, names in by_build(mutant["tests"]).items():
                    touched.setdefault(build, set()).update(names)
                result, detail = try_mutant(runner, journal, mutant, target)
            seconds = time.monotonic() - began
            rows.append((mutant["id"], result, seconds, detail))
            where = rel(target) if target else mutant["in"]
            log(f"[{index}/{len(mutants)}] {mutant['id']} ({where}): {result} in {seconds:.0f} s"
                + (f" - {detail.splitlines()[0]}" if detail else ""))
            if result == "stillborn" and detail.count("\n"):
                log(detail)
            write_report(args.out, rows, mutants_by_id, len(mutants), False)
        finished = True
    except (KeyboardInterrupt, Interrupted):
        log("interrupted; the mutated file has its original bytes back")
    finally:
        # Leave the test programs built from the original sources.
        for build, names in touched.items():
            ok, output = runner.build(build, sorted(names))
            if not ok:
                log(f"rebuilding the {build} tests from the original sources failed:\n"
                    + tail(output))
        if runner.wine_started:
            runner.wine("stop")
    if args.baseline:
        return 0
    report = write_report(args.out, rows, mutants_by_id, len(mutants), finished)
    log("")
    log(report.rstrip())
    log(f"total {time.monotonic() - start:.0f} s")
    return 0 if finished else 130


def dry_run(mutants):
    files = product_files()
    bad = 0
    for m in mutants:
        target, reason = locate(m, files)
        log(f"{m['id']}: " + (rel(target) if target else "NOT FOUND - " + reason))
        bad += target is None
    return 1 if bad else 0


def baseline(runner, mutants):
    tests = {}
    for m in mutants:
        for build, name in m["tests"]:
            tests.setdefault(build, set()).add(name)
    failing = []
    for build, names in sorted(tests.items()):
        ok, output = runner.build(build, sorted(names))
        if not ok:
            log(f"{build}: build failed:\n" + tail(output))
            return 1
        for name in sorted(names):
            began = time.monotonic()
            passed, output = runner.run_tests(build, [name])
            log(f"{build}:{name}: {'passed' if passed else 'FAILED'}"
                f" in {time.monotonic() - began:.0f} s")
            if not passed:
                failing.append(f"{build}:{name}")
                log(tail(output, 15))
    if failing:
        log("failing unmutated: " + " ".join(failing))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
