#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs both test suites.
# BUILD_ROOT (default: build) chooses where the build folders go.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${BUILD_ROOT:-build}
jobs=$(nproc)

scripts/install-deps.sh

echo "== native build (portable code, ASan + UBSan, fuzzers)"
cmake --preset native -B "$root/native" >/dev/null
cmake --build "$root/native" -j "$jobs"
ctest --test-dir "$root/native" --output-on-failure -j "$jobs"

echo "== windows build (MinGW-w64, tests under Wine)"
cmake --preset windows -B "$root/windows" >/dev/null
cmake --build "$root/windows" -j "$jobs"
prefix="$PWD/$root/windows/wineprefix"
trap 'scripts/wine-prefix.sh "$prefix" stop' EXIT
scripts/wine-prefix.sh "$prefix" start
ctest --test-dir "$root/windows" --output-on-failure -j "$jobs"
