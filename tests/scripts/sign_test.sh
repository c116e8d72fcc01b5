#!/usr/bin/env bash
# scripts/package.sh with a throwaway code-signing certificate: the installer
# and both programs verify against it, one changed byte does not, and a
# rebuild with the kept signatures attached equals the signed installer; a
# package without a WebView2Loader.dll is refused with a message saying so.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cat >"$work/cert.cnf" <<'CNF'
[req]
distinguished_name = dn
x509_extensions = ext
prompt = no
[dn]
CN = NorvVPN test signing
[ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, codeSigning
subjectKeyIdentifier = hash
CNF
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -config "$work/cert.cnf" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || { cat "$work/openssl.log"; fail "openssl req"; }
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway -out "$work/test.p12" ||
  fail "openssl pkcs12"

if NORV_NO_BUILD=1 PACKAGE_DIR="$work/none" "$root/scripts/package.sh" >"$work/none.log" 2>&1; then
  fail "package.sh made a package without a WebView2Loader.dll"
fi
grep -q -- "--webview2-loader PATH" "$work/none.log" || { cat "$work/none.log"; fail "no message naming --webview2-loader"; }

package=$(NORV_NO_BUILD=1 PACKAGE_DIR="$work/out" NORV_SIGN_PASSWORD=throwaway \
          "$root/scripts/package.sh" --dev-runtime --sign-pkcs12 "$work/test.p12" 2>"$work/package.log" | tail -n 1) ||
  { cat "$work/package.log"; fail "package.sh --dev-runtime --sign-pkcs12"; }
[ "$(basename "$package")" = NorvVPN-1.0.0.0-win64-dev.exe ] || fail "package named '$package'"

verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }
staged=$(dirname "$(find "$work/out/_CPack_Packages" -name norvvpnui.exe)")
for file in "$package" "$staged/norvvpnui.exe" "$staged/uninstall-cleaner.exe"; do
  verify "$file" || { cat "$work/verify.log"; fail "$file does not verify"; }
done

cp "$package" "$work/changed.exe"
offset=$(( $(stat -c %s "$package") / 2 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$package" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$work/changed.exe" bs=1 seek="$offset" conv=notrunc status=none
cmp -s "$package" "$work/changed.exe" && fail "the byte did not change"
if verify "$work/changed.exe"; then cat "$work/verify.log"; fail "a changed installer verifies"; fi

rebuilt=$(NORV_NO_BUILD=1 PACKAGE_DIR="$work/rebuilt" NORV_SIGN_CAFILE="$work/cert.pem" \
          "$root/scripts/package.sh" --dev-runtime \
          --attach-signatures "$work/out/signatures" 2>"$work/package.log" | tail -n 1) ||
  { cat "$work/package.log"; fail "package.sh --attach-signatures"; }
ls "$work/out/signatures" | tr '\n' ' ' | grep -qx "installer.exe.sig norvvpnui.exe.sig uninstall-cleaner.exe.sig uninstall.exe.sig " ||
  fail "kept signatures: $(ls "$work/out/signatures")"
cmp "$package" "$rebuilt" || fail "the rebuild with the signatures attached differs from the signed package"
echo "ok"
