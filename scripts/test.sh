#!/bin/bash
# Builds every target and runs every test: the portable logic natively under the sanitizers, the release build's
# checks, a bounded fuzzing run over the HTTP parsing, and the Windows unit and end-to-end tests under wine64.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
ctest --preset fuzz

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j2
scripts/check_release.sh build/windows-x86/Tempvaro.exe
scripts/check_reproducible.sh

cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j2
ctest --preset windows-x64
