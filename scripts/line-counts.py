#!/usr/bin/env python3
"""Prints the C++ source lines of the product, of its tests and of the simulated world.

Tests and their helpers are meant to stay at or under half the product's lines. The simulated
Windows host, the stand-ins, the fixtures and the stand-in SDK's own tests are counted apart, as
are fuzzers and benchmarks. Every line of a .h or .cpp file counts (blank ones too), so the
figures compare with a plain `wc -l`.
"""
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_ENDINGS = (".h", ".cpp")
# The simulated machine the tests run in: not tests themselves.
WORLD = ("tests/support/simulated_host/", "tests/support/simulated_plugin/", "tests/fixtures/",
         "tests/sdk_standin/")


def group_of(path):
    if path.startswith("windows/"):
        return "product"
    if path.startswith(WORLD):
        return "world"
    if path.startswith("tests/"):
        return "tests"
    if path.startswith(("fuzz/", "bench/")):
        return "fuzz+bench"
    return None


def line_count(path):
    with open(ROOT / path, encoding="utf-8", errors="replace") as text:
        return sum(1 for _ in text)


def main():
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True,
                           check=True).stdout.split()
    totals = defaultdict(int)
    folders = defaultdict(int)
    for path in files:
        group = group_of(path)
        if group is None or not path.endswith(SOURCE_ENDINGS):
            continue
        lines = line_count(path)
        totals[group] += lines
        if group == "product":
            folders[str(Path(path).parent)] += lines
    if "-v" in sys.argv[1:]:
        for folder, lines in sorted(folders.items()):
            print(f"  {lines:6d}  {folder}")
    product = totals["product"]
    print(f"product (windows/):                 {product:6d}")
    print(f"tests and their helpers:            {totals['tests']:6d}  "
          f"({totals['tests'] / product:.2f} of the product)")
    print(f"simulated world and stand-in tests: {totals['world']:6d}")
    print(f"fuzzers and benchmarks:             {totals['fuzz+bench']:6d}")


if __name__ == "__main__":
    main()
