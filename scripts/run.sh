#!/bin/bash
# Builds Tempvaro and runs it under Wine against fake time servers on loopback; nothing leaves the machine.
# It runs the 32-bit release build where this machine can, else the x86-64 build, and says which.
# With a local $DISPLAY the window shows there until it is closed; without one it runs on a virtual display, and
# the screenshot and the three status panes are saved and printed.
# Set TEMPVARO_SKIP_SETUP=1 to leave out the package set-up on later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "run.sh: run as root: the program runs in a private network namespace" >&2
    exit 1
fi
if [ -z "${TEMPVARO_SKIP_SETUP:-}" ]; then
    scripts/setup.sh
fi

# The release build as users get it, where this machine can run 32-bit programs; else the x86-64 build.
source tests/wine/use_e2e_build.sh

# The demo itself, run by Python inside the namespace with the test harness and fake servers.
read -r -d '' demo <<'PY' || true
import os
import sys
sys.path.insert(0, ".")
from tests.e2e import harness
from tests.e2e.fake_time_server import TimeServers

harness.check_isolation()
user_display = os.environ.get("DISPLAY", "")
with TimeServers() as servers:
    # Servers 1 and 2 run 5 s behind, so the start-up check finds the machine 5 s fast. Server 3, which the
    # manual sync asks first, has the machine's own time: Wine moves no clock by half a second or more.
    servers[1].answer(-5)
    servers[2].answer(-5)
    servers[3].answer(0)
    if harness.ExistingDisplay.usable(user_display):
        program = harness.Program(harness.ExistingDisplay(user_display), workdir=harness.EXE.parent)
        program.start().wait_window()
        print(f"run.sh: Tempvaro is showing on {user_display}; close its window to end.", flush=True)
        try:
            program.process.wait()
        finally:
            program.stop()
        sys.exit(0)
    if user_display:
        print(f"run.sh: DISPLAY={user_display} is not a local display reachable from the namespace; "
              "using a virtual one", flush=True)
    display = harness.VirtualDisplay().start()
    program = harness.Program(display, workdir=harness.EXE.parent)
    try:
        program.start().wait_window()
        panes = program.wait_panes(lambda p: len(p) == 3 and p[1] and p[2] not in ("", "正在连接时间服务器......"),
                                   30, "the clock check")
        shot = display.screenshot(harness.SCREENSHOTS / "run.png")
        print(f"run.sh: screenshot: {shot}")
        for number, text in enumerate(panes):
            print(f"run.sh: pane {number}: {text}")
    finally:
        program.stop()
        display.stop()
PY

exec tests/wine/run_isolated.sh python3 -c "$demo"
