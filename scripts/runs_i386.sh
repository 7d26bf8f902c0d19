#!/bin/bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs, so that 32-bit Wine can run the release build as it
# ships. The test is a 96-byte i386 program that exits with 42; nothing needs installing for it.
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
elf=7f454c460101010000000000000000000200030001000000548004083400000000000000000000003400200001000000
elf+=000000000100000000000000008004080080040860000000600000000500000000100000b801000000bb2a000000cd80
printf '%s' "$elf" | sed 's/../\\x&/g' | xargs -0 printf >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
