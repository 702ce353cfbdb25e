#!/usr/bin/env python3
"""Every configuration the engine writes must be JSON a core reads as meant.

Usage: judge_injection_outputs.py INJECTION_OUTPUTS_TOOL

The tool writes the engine's text for every test configuration. Each one must parse with
Python's strict JSON parser, and no object may hold two members of one name (the core's Go
decoder would silently keep the last). Every one that uses no feature of the app's own core is
also handed to Debian's v2ray ("v2ray -test"), which must accept it.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def reject_duplicates(pairs):
    names = [name for name, _ in pairs]
    duplicates = sorted({name for name in names if names.count(name) > 1})
    if duplicates:
        raise ValueError("duplicate member(s) " + ", ".join(duplicates))
    return dict(pairs)


def main():
    tool = sys.argv[1]
    v2ray = shutil.which("v2ray")
    if v2ray is None:
        print("SKIP: Debian's v2ray is not installed (scripts/install-deps.sh installs it)")
        return SKIP
    failures = []
    with tempfile.TemporaryDirectory(prefix="injection outputs é ") as folder:
        subprocess.run([tool, "dump", folder], check=True, stderr=subprocess.DEVNULL)
        with open(os.path.join(folder, "manifest.tsv"), encoding="utf-8") as manifest:
            entries = [line.rstrip("\n").split("\t") for line in manifest if line.strip()]
        judged_by_core = 0
        for file_name, kind, name in entries:
            path = os.path.join(folder, file_name)
            with open(path, encoding="utf-8") as text:
                content = text.read()
            try:
                json.loads(content, object_pairs_hook=reject_duplicates)
            except ValueError as error:
                failures.append(f"{name}: not valid JSON: {error}\n{content}")
                continue
            if kind != "core":
                continue
            judged_by_core += 1
            result = subprocess.run([v2ray, "-test", "-config", path], capture_output=True,
                                    text=True, timeout=60)
            if result.returncode != 0 or "Configuration OK" not in result.stdout:
                failures.append(f"{name}: v2ray refused it:\n{result.stdout}{result.stderr}\n{content}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(entries)} outputs parsed, {judged_by_core} judged by v2ray, {len(failures)} failed")
    if judged_by_core < 20:
        print("FAIL: too few outputs were judged by the real core")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
