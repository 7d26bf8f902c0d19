#!/bin/bash
# Signs one Windows program in place with the vendor's code-signing key (Authenticode, SHA-256) and verifies the
# signature; fails, saying why, when it does not verify. release.sh signs the program, the setup and, from inside
# makensis, the uninstaller with it.
#
#   scripts/sign_program.sh FILE
#
# Environment: TEMPVARO_SIGN_CERT (the PKCS#12 file), TEMPVARO_SIGN_PASSWORD, TEMPVARO_SIGN_TIME (the signing time in
# seconds since 1970, so that the same input signs to the same bytes), TEMPVARO_TIMESTAMP_URL and
# TEMPVARO_TIMESTAMP_CAFILE, as scripts/release.sh describes them.
set -euo pipefail
file=$1
certificate=$TEMPVARO_SIGN_CERT
password=${TEMPVARO_SIGN_PASSWORD-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The password goes through standard input; an empty one is given as none (neither tool reads an empty input).
sign_options=(-pkcs12 "$certificate" -h sha256 -n Tempvaro -time "$TEMPVARO_SIGN_TIME")
passin=(-passin pass:)
if [ -n "$password" ]; then
    sign_options+=(-readpass -)
    passin=(-passin stdin)
fi
if [ -n "${TEMPVARO_TIMESTAMP_URL:-}" ]; then
    sign_options+=(-ts "$TEMPVARO_TIMESTAMP_URL")
fi
printf '%s' "$password" | osslsigncode sign "${sign_options[@]}" -in "$file" -out "$work/signed.exe" >/dev/null

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
osslsigncode verify -in "$work/signed.exe" "${verify_options[@]}" >"$work/verify.log" 2>&1 || failed=1
# osslsigncode accepts a signature whose time stamp it could not verify; a release that asked for one may not.
if [ -n "${TEMPVARO_TIMESTAMP_URL:-}" ] && ! grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log"; then
    failed=1
fi
if [ $failed -ne 0 ]; then
    cat "$work/verify.log" >&2
    echo "sign_program: the signature of $(basename "$file") does not verify" >&2
    exit 1
fi
# Written into the same file, which makensis reopens by name.
cat "$work/signed.exe" >"$file"
