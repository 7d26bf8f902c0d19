#!/bin/bash
# Builds the release twice more, from copies of the sources in two other directories at different times, and checks
# that both programs are byte-identical to build/windows-x86/Tempvaro.exe: no time stamp and no build path in it.
set -eu
cd "$(dirname "$0")/.."
reference=build/windows-x86/Tempvaro.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for copy in first "second copy/deeper"; do
    mkdir -p "$work/$copy"
    tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$work/$copy"
    cmake -S "$work/$copy" -B "$work/$copy/out" --toolchain "$work/$copy/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$work/$copy/out" -j"$(nproc)" --target Tempvaro >/dev/null
    if ! cmp "$reference" "$work/$copy/out/Tempvaro.exe"; then
        echo "check_reproducible: a build in $work/$copy differs from $reference" >&2
        exit 1
    fi
    sleep 1
done
echo "check_reproducible: two more builds in other directories are byte-identical to $reference"
