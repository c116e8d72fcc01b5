#!/usr/bin/env bash
# Gives one Windows file its Authenticode signature, in place:
#   sign-pe.sh NAME FILE      (NAME: the file's name in the package, e.g. uninstall.exe)
# With NORV_SIGN_PKCS12 (password in NORV_SIGN_PASSWORD, never on a command
# line) it signs, at a fixed time (NORV_SIGN_TIME, else SOURCE_DATE_EPOCH) so
# the same key signs the same bytes alike, and keeps the detached signature as
# NORV_SIGN_SAVE_DIR/NAME.sig when that is set. With NORV_SIGN_ATTACH_DIR it
# attaches NORV_SIGN_ATTACH_DIR/NAME.sig instead: a rebuild of a release then
# carries the release's signatures and must equal it byte for byte
# (osslsigncode checks each attached signature: NORV_SIGN_CAFILE names the CA
# certificates when not the system's).
set -Eeuo pipefail
[ $# -eq 2 ] || { echo "usage: $0 NAME FILE" >&2; exit 2; }
name=$1 file=$2
fail() { [ ! -f "$file.sign.log" ] || cat "$file.sign.log" >&2; rm -f "$file.signed" "$file.sign.log"; echo "sign-pe.sh: $*" >&2; exit 1; }
rm -f "$file.signed"
if [ -n "${NORV_SIGN_ATTACH_DIR:-}" ]; then
  sig=$NORV_SIGN_ATTACH_DIR/$name.sig
  [ -f "$sig" ] || fail "no signature $sig for $name"
  ca=()
  [ -z "${NORV_SIGN_CAFILE:-}" ] || ca=(-CAfile "$NORV_SIGN_CAFILE")
  osslsigncode attach-signature "${ca[@]}" -sigin "$sig" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1 ||
    fail "osslsigncode could not attach $sig to $file"
else
  [ -n "${NORV_SIGN_PKCS12:-}" ] || fail "neither NORV_SIGN_PKCS12 nor NORV_SIGN_ATTACH_DIR is set"
  [ -n "${NORV_SIGN_PASSWORD+set}" ] || fail "NORV_SIGN_PASSWORD is not set"
  time=${NORV_SIGN_TIME:-${SOURCE_DATE_EPOCH:-}}
  args=(sign -pkcs12 "$NORV_SIGN_PKCS12" -readpass /dev/stdin -h sha256 -n NorvVPN)
  [ -z "$time" ] || args+=(-time "$time")
  printf '%s' "$NORV_SIGN_PASSWORD" | osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1 ||
    fail "osslsigncode could not sign $file"
  if [ -n "${NORV_SIGN_SAVE_DIR:-}" ]; then
    mkdir -p "$NORV_SIGN_SAVE_DIR"
    rm -f "$NORV_SIGN_SAVE_DIR/$name.sig"
    osslsigncode extract-signature -in "$file.signed" -out "$NORV_SIGN_SAVE_DIR/$name.sig" >"$file.sign.log" 2>&1 ||
      fail "osslsigncode could not extract the signature of $file"
  fi
fi
rm -f "$file.sign.log"
mv -f "$file.signed" "$file"
