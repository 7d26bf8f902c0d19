#!/bin/bash
# Prints the build folder whose Tempvaro.exe the end-to-end tests and run.sh should start: the 32-bit release build,
# as users get it, where this machine runs 32-bit x86 programs and has 32-bit Wine; else the x86-64 build.
# Says on standard error which one and why.
source "$(dirname "$0")/wine_env.sh"
root=$TEMPVARO_ROOT
if "$root/scripts/runs_i386.sh" && [ -e "$WINE32_NTDLL" ]; then
    echo "e2e: exercising build/windows-x86/Tempvaro.exe, the shipped 32-bit build" >&2
    echo "$root/build/windows-x86"
else
    if "$root/scripts/runs_i386.sh"; then
        why="Debian's 32-bit Wine is not installed"
    else
        why="this machine cannot run 32-bit x86 programs"
    fi
    echo "e2e: exercising build/windows-x64/Tempvaro.exe; the shipped 32-bit build was NOT exercised: $why" >&2
    echo "$root/build/windows-x64"
fi
