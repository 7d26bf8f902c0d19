#!/bin/bash
# Remakes the README's screenshots (docs/main-window.png, docs/about.png, docs/time-servers.png,
# docs/main-window-144dpi.png) from the release build under Wine.
set -eu
cd "$(dirname "$0")/.."
[ -n "${TEMPVARO_SKIP_SETUP:-}" ] || scripts/setup.sh
source tests/wine/use_e2e_build.sh
if [ "$build_dir" != "$PWD/build/windows-x86" ]; then
    echo "screenshots: this machine cannot run the 32-bit release build; the README's screenshots must come from it" >&2
    exit 1
fi
exec tests/wine/run_isolated.sh python3 -m tests.e2e.screenshots
