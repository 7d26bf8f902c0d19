#!/bin/bash
# Builds the release, signs it with the vendor's code-signing certificate and writes dist/: the setup and the zip for
# users, SHA256SUMS, and update-site/, the tree the vendor copies to its web host for the update flow.
#
#   scripts/release.sh CERT.p12
#
# The certificate's password comes from TEMPVARO_SIGN_PASSWORD (empty is allowed), never from the command line,
# where other users could read it. With TEMPVARO_TIMESTAMP_URL set, the signature carries an RFC 3161 time stamp
# from that server, so that it stays valid after the certificate expires; the stamp must verify against the system's
# roots, plus TEMPVARO_TIMESTAMP_CAFILE when that names a file of further roots.
# TEMPVARO_DIST sets the output folder (default dist/); TEMPVARO_SKIP_SETUP=1 leaves out the package set-up.
# TEMPVARO_RELEASE_PRESET=windows-x64 makes the same release of the x86-64 build, for tests on machines that cannot
# run 32-bit programs: its zip and setup are named win64 and x64, it is written to dist-x64/ (unless TEMPVARO_DIST
# says otherwise) and has no update site, whose program 32-bit Windows could not start.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: scripts/release.sh CERT.p12   (password in TEMPVARO_SIGN_PASSWORD)" >&2
    exit 2
fi
certificate=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
preset=${TEMPVARO_RELEASE_PRESET:-windows-x86}
case $preset in
windows-x86) zip_platform=win32 suffix= nsis_target= default_dist=dist ;;
windows-x64) zip_platform=win64 suffix=x64- nsis_target=amd64-unicode default_dist=dist-x64 ;;
*)
    echo "release: TEMPVARO_RELEASE_PRESET is windows-x86 or windows-x64, not $preset" >&2
    exit 2
    ;;
esac
dist=$(realpath -m "${TEMPVARO_DIST:-$default_dist}")
[ -n "${TEMPVARO_SKIP_SETUP:-}" ] || scripts/setup.sh
build=build/$preset
cmake --preset "$preset" -UTEMPVARO_VERSION >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" --target Tempvaro >/dev/null
version=$(sed -n 's/^#define TEMPVARO_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")
build_number=$(sed -n 's/^#define TEMPVARO_BUILD_NUMBER \([0-9]*\)$/\1/p' "$build/generated/version.h")
# The checks are those of the 32-bit program users get.
[ "$preset" != windows-x86 ] || scripts/check_release.sh "$build/Tempvaro.exe"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
refuse() {
    echo "release: $1; nothing is published" >&2
    exit 1
}
export TEMPVARO_SIGN_CERT=$certificate
# The commit's time as the signing time: the same commit signs to the same bytes, unless a time stamp is asked for,
# which holds the time the authority saw.
TEMPVARO_SIGN_TIME=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export TEMPVARO_SIGN_TIME
signed=$work/Tempvaro.exe
cp "$build/Tempvaro.exe" "$signed"
scripts/sign_program.sh "$signed" || refuse "the signed program does not verify"

mkdir "$work/zip"
cp "$signed" "$work/zip/Tempvaro.exe"
# Notepad on every Windows from 7 on reads UTF-8 with its byte-order mark, whatever the code page.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' docs/user-guide.txt; } >"$work/zip/README.txt"
# Fixed dates and order, so the same build gives the same zip and the same setup.
touch -d 2013-10-01T00:00:00Z "$work/zip/Tempvaro.exe" "$work/zip/README.txt"

# The setup packs the same files; makensis has the uninstaller signed before packing it, then the setup is signed.
setup_name=Tempvaro-$version-${suffix}setup.exe
publisher=$(sed -n 's/^ *VALUE "CompanyName", "\(.*\)"$/\1/p' res/version.rc)
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DPUBLISHER="$publisher" -DSTAGE="$work/zip" \
    -DICON="$PWD/res/tempvaro.ico" -DOUTFILE="$work/$setup_name" -DSIGN="$PWD/scripts/sign_program.sh" \
    ${nsis_target:+-DTARGET="$nsis_target"} installer/tempvaro.nsi >"$work/makensis.log" 2>&1 ||
    { cat "$work/makensis.log" >&2; refuse "the setup or its uninstaller could not be built and signed"; }
scripts/sign_program.sh "$work/$setup_name" || refuse "the signed setup does not verify"

rm -rf "$dist"
mkdir -p "$dist"
zip_name=Tempvaro-$version-$zip_platform.zip
cp "$work/$setup_name" "$dist/$setup_name"
(cd "$work/zip" && TZ=UTC zip -X -q "$dist/$zip_name" Tempvaro.exe README.txt)
summed=("$zip_name" "$setup_name")

# The update flow asks for /soft/Chronvik/Chronvik.asp?id=711 and /soft/Chronvik/Chronvik.exe; a static server
# ignores the query and serves the version page file as it stands.
if [ "$preset" = windows-x86 ]; then
    site=update-site/soft/Chronvik
    mkdir -p "$dist/$site"
    printf 'zq%02d' "$build_number" >"$dist/$site/Chronvik.asp"
    cp "$signed" "$dist/$site/Chronvik.exe"
    summed+=("$site/Chronvik.exe")
fi
(cd "$dist" && sha256sum "${summed[@]}" >SHA256SUMS)
for file in "$dist/$zip_name" "$dist/$setup_name"; do
    echo "release: $file ($(stat -c %s "$file") bytes)"
done
echo "release: signed Tempvaro.exe $(stat -c %s "$signed") bytes"
