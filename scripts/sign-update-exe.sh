#!/usr/bin/env bash
# Signs a Windows program (Update.exe) with Authenticode, with osslsigncode
# (Debian's package): the vendor's code-signing certificate (PEM, with its
# chain) and its private key (PEM), SHA-256. Windows then shows the
# publisher before the program runs elevated.
#
# Usage: scripts/sign-update-exe.sh CERTIFICATE KEY PROGRAM [SIGNED]
#   writes SIGNED (default: PROGRAM itself, replaced once it is signed)
# UPDATE_SIGN_TIMESTAMP: the URL of a time-stamp server (RFC 3161), so that
# the signature outlives the certificate; none by default (offline).
set -euo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 CERTIFICATE KEY PROGRAM [SIGNED]" >&2
    exit 2
fi
certificate=$1 key=$2 program=$3 signed=${4:-$3}
command -v osslsigncode >/dev/null || {
    echo "$0: osslsigncode is not installed (scripts/install-deps.sh)" >&2
    exit 1
}
timestamp=()
if [ -n "${UPDATE_SIGN_TIMESTAMP:-}" ]; then
    timestamp=(-ts "$UPDATE_SIGN_TIMESTAMP")
fi
beside="$signed.signing-$$"
trap 'rm -f "$beside"' EXIT
osslsigncode sign -certs "$certificate" -key "$key" -h sha256 -n "Brenvolt Update" \
    "${timestamp[@]}" -in "$program" -out "$beside" >/dev/null
mv -f "$beside" "$signed"
echo "signed: $signed"
