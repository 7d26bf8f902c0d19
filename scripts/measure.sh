#!/bin/bash
# Builds the program and prints the measurements quoted in the release notes (size, check times, download speed).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 -j2 >/dev/null
# The program is measured as users get it where this machine can run it; the download tool is the same either way.
build_dir=$(tests/wine/e2e_build.sh)
if [ "$build_dir" != "$PWD/build/windows-x86" ]; then
    cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 -j2 >/dev/null
fi
export TEMPVARO_EXE=$build_dir/Tempvaro.exe TEMPVARO_PROBE=$build_dir/tests/tools/window_probe.exe
export TEMPVARO_MEASURE_DOWNLOAD=$build_dir/tests/tools/measure_download.exe
exec tests/wine/run_isolated.sh python3 -m tests.e2e.measure
