#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, if any is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
have_cmd x86_64-w64-mingw32-windres || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64 wine)
have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd clang++ || need+=(clang)
have_cmd python3 || need+=(python3)
have_cmd openssl || need+=(openssl)
# A real core of the Xray family judges the engine's amended configurations natively.
have_cmd v2ray || need+=(v2ray)
have_cmd curl || need+=(curl)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  need+=(libclang-rt-dev)

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
