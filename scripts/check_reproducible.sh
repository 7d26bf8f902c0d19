#!/bin/bash
# Builds the release twice more, from copies of the sources in two other directories at different times, and checks
# that both programs are byte-identical to build/windows-x86/Tempvaro.exe: no time stamp and no build path in it.
# Then runs scripts/release.sh twice, a second apart, with a key made for the check, and checks that the zips and the
# signed setups are byte-identical too.
set -eu
cd "$(dirname "$0")/.."
reference=build/windows-x86/Tempvaro.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The copies have no history: they take the commit's time, which the program is built with, from here.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
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

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Tempvaro Reproducibility Check" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" -passout pass: -out "$work/key.p12"
for run in 1 2; do
    TEMPVARO_DIST="$work/dist$run" TEMPVARO_SKIP_SETUP=1 TEMPVARO_SIGN_PASSWORD= scripts/release.sh "$work/key.p12" \
        >/dev/null
    sleep 1
done
for file in "$work"/dist1/*.zip "$work"/dist1/*setup.exe; do
    if ! cmp "$file" "$work/dist2/$(basename "$file")"; then
        echo "check_reproducible: two release runs give different $(basename "$file")" >&2
        exit 1
    fi
done
echo "check_reproducible: two release runs give byte-identical zips and signed setups"
