#!/bin/bash
# Remakes the README's screenshots (docs/main-window.png, docs/about.png) from the release build under Wine.
set -eu
cd "$(dirname "$0")/.."
[ -n "${TEMPVARO_SKIP_SETUP:-}" ] || scripts/setup.sh
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j"$(nproc)" >/dev/null
build_dir=$(tests/wine/e2e_build.sh)
if [ "$build_dir" != "$PWD/build/windows-x86" ]; then
    echo "screenshots: this machine cannot run the 32-bit release build; the README's screenshots must come from it" >&2
    exit 1
fi
export TEMPVARO_EXE=$build_dir/Tempvaro.exe TEMPVARO_PROBE=$build_dir/tests/tools/window_probe.exe
export TEMPVARO_SCREENSHOTS=$build_dir/screenshots
exec tests/wine/run_isolated.sh python3 -m tests.e2e.screenshots
