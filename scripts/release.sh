#!/bin/bash
# Builds the release, signs it with the vendor's code-signing certificate and writes dist/: the zip for users,
# SHA256SUMS, and update-site/, the tree the vendor copies to its web host for the update flow.
#
#   scripts/release.sh CERT.p12
#
# The certificate's password comes from TEMPVARO_SIGN_PASSWORD (empty is allowed), never from the command line,
# where other users could read it. With TEMPVARO_TIMESTAMP_URL set, the signature carries an RFC 3161 time stamp
# from that server, so that it stays valid after the certificate expires; the stamp must verify against the system's
# roots, plus TEMPVARO_TIMESTAMP_CAFILE when that names a file of further roots.
# TEMPVARO_DIST sets the output folder (default dist/); TEMPVARO_SKIP_SETUP=1 leaves out the package set-up.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: scripts/release.sh CERT.p12   (password in TEMPVARO_SIGN_PASSWORD)" >&2
    exit 2
fi
certificate=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
password=${TEMPVARO_SIGN_PASSWORD-}
dist=$(realpath -m "${TEMPVARO_DIST:-dist}")
[ -n "${TEMPVARO_SKIP_SETUP:-}" ] || scripts/setup.sh

cmake --preset windows-x86 -UTEMPVARO_VERSION >/dev/null
cmake --build --preset windows-x86 -j"$(nproc)" --target Tempvaro >/dev/null
version=$(sed -n 's/^#define TEMPVARO_VERSION_TEXT "\(.*\)"$/\1/p' build/windows-x86/generated/version.h)
build_number=$(sed -n 's/^#define TEMPVARO_BUILD_NUMBER \([0-9]*\)$/\1/p' build/windows-x86/generated/version.h)
scripts/check_release.sh build/windows-x86/Tempvaro.exe

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed=$work/Tempvaro.exe
# The password goes through standard input; an empty one is given as none (neither tool reads an empty input).
sign_options=(-pkcs12 "$certificate" -h sha256 -n Tempvaro)
passin=(-passin pass:)
if [ -n "$password" ]; then
    sign_options+=(-readpass -)
    passin=(-passin stdin)
fi
if [ -n "${TEMPVARO_TIMESTAMP_URL:-}" ]; then
    sign_options+=(-ts "$TEMPVARO_TIMESTAMP_URL")
fi
printf '%s' "$password" | osslsigncode sign "${sign_options[@]}" -in build/windows-x86/Tempvaro.exe -out "$signed" \
    >/dev/null

# Verify against the system's roots plus the certificates the PKCS#12 file carries (a test publisher is its own root).
system_roots=/etc/ssl/certs/ca-certificates.crt
printf '%s' "$password" | openssl pkcs12 -in "$certificate" -nokeys "${passin[@]}" -out "$work/chain.pem"
cat "$system_roots" "$work/chain.pem" >"$work/roots.pem"
verify_options=(-CAfile "$work/roots.pem")
if [ -n "${TEMPVARO_TIMESTAMP_URL:-}" ]; then
    cat "$system_roots" ${TEMPVARO_TIMESTAMP_CAFILE:+"$TEMPVARO_TIMESTAMP_CAFILE"} >"$work/tsa.pem"
    verify_options+=(-TSA-CAfile "$work/tsa.pem")
fi
failed=0
osslsigncode verify -in "$signed" "${verify_options[@]}" >"$work/verify.log" 2>&1 || failed=1
# osslsigncode accepts a signature whose time stamp it could not verify; a release that asked for one may not.
if [ -n "${TEMPVARO_TIMESTAMP_URL:-}" ] && ! grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log"; then
    failed=1
fi
if [ $failed -ne 0 ]; then
    cat "$work/verify.log" >&2
    echo "release: the signed program does not verify; nothing is published" >&2
    exit 1
fi

rm -rf "$dist"
mkdir -p "$dist/update-site/soft/Chronvik"
zip_name=Tempvaro-$version-win32.zip
mkdir "$work/zip"
cp "$signed" "$work/zip/Tempvaro.exe"
# Notepad on every Windows from 7 on reads UTF-8 with its byte-order mark, whatever the code page.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' docs/user-guide.txt; } >"$work/zip/README.txt"
# Fixed dates and order, so the same build gives the same zip.
touch -d 2013-10-01T00:00:00Z "$work/zip/Tempvaro.exe" "$work/zip/README.txt"
(cd "$work/zip" && TZ=UTC zip -X -q "$dist/$zip_name" Tempvaro.exe README.txt)

# The update flow asks for /soft/Chronvik/Chronvik.asp?id=711 and /soft/Chronvik/Chronvik.exe; a static server
# ignores the query and serves the version page file as it stands.
printf 'zq%02d' "$build_number" >"$dist/update-site/soft/Chronvik/Chronvik.asp"
cp "$signed" "$dist/update-site/soft/Chronvik/Chronvik.exe"
(cd "$dist" && sha256sum "$zip_name" update-site/soft/Chronvik/Chronvik.exe >SHA256SUMS)
echo "release: $dist/$zip_name ($(stat -c %s "$dist/$zip_name") bytes), signed Tempvaro.exe $(stat -c %s "$signed") bytes"
