#!/bin/bash
# Builds the program and prints the measurements quoted in the release notes (size, check times, download speed).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 -j2 >/dev/null
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 -j2 >/dev/null
exec tests/wine/run_isolated.sh python3 -m tests.e2e.measure
