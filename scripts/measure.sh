#!/bin/bash
# Builds the program and prints the measurements quoted in the release notes (size, check times, download speed); with
# --paths, how right /check and /sync are beside ntpdig and chronyd -Q through jittery paths.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
# The program is measured as users get it where this machine can run it.
source tests/wine/use_e2e_build.sh
exec tests/wine/run_isolated.sh python3 -m tests.e2e.measure "$@"
