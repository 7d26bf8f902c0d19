#!/bin/bash
# Builds every target and runs every test: the portable logic natively under the sanitizers, the release build's
# checks, a bounded fuzzing run over the HTTP parsing, the Windows unit tests under wine64, and the end-to-end tests
# against the 32-bit release build under 32-bit Wine (the x86-64 build where this machine cannot run 32-bit code).
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

e2e_build=$(tests/wine/e2e_build.sh)
cmake --preset windows-x64 -DTEMPVARO_E2E_BUILD_DIR="$e2e_build" >/dev/null
cmake --build --preset windows-x64 -j2
ctest --preset windows-x64
