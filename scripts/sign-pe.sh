#!/usr/bin/env bash
# Authenticode-signs one Windows file in place: sign-pe.sh KEY.p12 FILE.
# The password comes from NORV_SIGN_PASSWORD and never goes on a command line.
# The signing time is fixed (NORV_SIGN_TIME, else SOURCE_DATE_EPOCH), so the
# same key signs the same bytes alike. A release adds an RFC 3161 timestamp
# (see README).
set -Eeuo pipefail
[ $# -eq 2 ] || { echo "usage: $0 KEY.p12 FILE" >&2; exit 2; }
key=$1 file=$2
[ -n "${NORV_SIGN_PASSWORD+set}" ] || { echo "sign-pe.sh: NORV_SIGN_PASSWORD is not set" >&2; exit 1; }
time=${NORV_SIGN_TIME:-${SOURCE_DATE_EPOCH:-}}
args=(sign -pkcs12 "$key" -readpass /dev/stdin -h sha256 -n NorvVPN)
[ -z "$time" ] || args+=(-time "$time")
rm -f "$file.signed"
if ! printf '%s' "$NORV_SIGN_PASSWORD" | osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
  cat "$file.sign.log" >&2
  rm -f "$file.signed" "$file.sign.log"
  echo "sign-pe.sh: osslsigncode could not sign $file" >&2
  exit 1
fi
rm -f "$file.sign.log"
mv -f "$file.signed" "$file"
