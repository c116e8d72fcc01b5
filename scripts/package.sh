#!/usr/bin/env bash
# Builds the Windows installer and prints its path as the last line.
#   scripts/package.sh --webview2-loader PATH   a release, with the WebView2 SDK's x64 WebView2Loader.dll
#   scripts/package.sh --dev-runtime            for tests under Wine: the development runtime and the
#                                               winbrand stand-in go in (file name ...-dev.exe)
#   --sign-pkcs12 FILE   signs both programs, the uninstaller and the installer (password in
#                        NORV_SIGN_PASSWORD) and keeps their detached signatures in PACKAGE_DIR/signatures
#   --attach-signatures DIR   attaches a release's signatures (DIR/<name>.sig) instead: the rebuilt
#                        installer must then equal the release's byte for byte
#   --release-url URL    a release: also writes winget's manifests for the installer, to be
#                        downloaded from URL/<installer's name>, into PACKAGE_DIR/winget
# Installs what is missing, builds in BUILD_DIR (default build/; NORV_NO_BUILD=1
# takes it as built), and puts the package in PACKAGE_DIR (default BUILD_DIR/packages),
# with PACKAGE_DIR/symbols beside it: the packaged programs and their .debug files in
# symbol-store layout, for scripts/read-crash.sh (cmake/package_symbols.cmake).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
BUILD_DIR=${BUILD_DIR:-$NORV_ROOT/build}
usage="usage: $0 (--webview2-loader PATH | --dev-runtime) [--sign-pkcs12 FILE | --attach-signatures DIR] [--release-url URL]"
loader= dev= pkcs12= attach= url=
while [ $# -gt 0 ]; do
  case $1 in
    --webview2-loader) [ $# -ge 2 ] || die "$usage"; loader=$2; shift 2 ;;
    --dev-runtime) dev=1; shift ;;
    --sign-pkcs12) [ $# -ge 2 ] || die "$usage"; pkcs12=$2; shift 2 ;;
    --attach-signatures) [ $# -ge 2 ] || die "$usage"; attach=$2; shift 2 ;;
    --release-url) [ $# -ge 2 ] || die "$usage"; url=${2%/}; shift 2 ;;
    *) die "$usage" ;;
  esac
done
[ -z "$loader" ] || [ -z "$dev" ] || die "--webview2-loader and --dev-runtime exclude each other"
if [ -z "$loader" ] && [ -z "$dev" ]; then
  die "no WebView2Loader.dll: a release needs the WebView2 SDK's x64 WebView2Loader.dll (--webview2-loader PATH); a package for tests under Wine takes the development runtime (--dev-runtime)"
fi
if [ -n "$loader" ]; then
  [ -f "$loader" ] || die "--webview2-loader: no file $loader"
  loader=$(cd "$(dirname "$loader")" && pwd)/$(basename "$loader")
fi
if [ -n "$pkcs12" ]; then
  [ -f "$pkcs12" ] || die "--sign-pkcs12: no file $pkcs12"
  [ -n "${NORV_SIGN_PASSWORD+set}" ] || die "--sign-pkcs12 needs the key's password in NORV_SIGN_PASSWORD"
  pkcs12=$(cd "$(dirname "$pkcs12")" && pwd)/$(basename "$pkcs12")
fi
[ -z "$pkcs12" ] || [ -z "$attach" ] || die "--sign-pkcs12 and --attach-signatures exclude each other"
if [ -n "$attach" ]; then
  [ -d "$attach" ] || die "--attach-signatures: no folder $attach"
  attach=$(cd "$attach" && pwd)
fi
if [ -n "$url" ]; then
  [ -n "$loader" ] || die "--release-url is for a release (--webview2-loader PATH), not a development package"
  [[ $url =~ ^https?://[^[:space:]\'\"]+$ ]] || die "--release-url: not an http(s) URL without spaces or quotes: $url"
fi

# winget's manifests (schema 1.12.0) for the installer $1 at $url, into $2,
# with the names and version the package was made with.
write_winget_manifests() {
  local installer=$1 dir=$2 version vendor name key id sha schema=1.12.0
  version=$(cpack_value "$BUILD_DIR" CPACK_PACKAGE_VERSION) vendor=$(cpack_value "$BUILD_DIR" CPACK_PACKAGE_VENDOR)
  name=$(cpack_value "$BUILD_DIR" CPACK_NSIS_DISPLAY_NAME)
  key=$(cpack_value "$BUILD_DIR" CPACK_PACKAGE_INSTALL_REGISTRY_KEY)
  id=$vendor.$name
  sha=$(sha256sum "$installer" | cut -d' ' -f1 | tr a-f A-F)
  rm -rf "$dir"
  mkdir -p "$dir"
  header() { printf '# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n' "$1" "$schema"; }
  { header version
    printf 'PackageIdentifier: %s\nPackageVersion: %s\nDefaultLocale: en-US\n' "$id" "$version"
    printf 'ManifestType: version\nManifestVersion: %s\n' "$schema"; } >"$dir/$id.yaml"
  # winget passes /S and /D= itself; the exit statuses are the README's; the
  # uninstall entry's key name is the product code.
  { header installer
    printf 'PackageIdentifier: %s\nPackageVersion: %s\n' "$id" "$version"
    printf 'InstallerType: nullsoft\nScope: machine\nElevationRequirement: elevatesSelf\nUpgradeBehavior: install\n'
    printf 'ProductCode: %s\n' "$key"
    printf 'ExpectedReturnCodes:\n- InstallerReturnCode: 2\n  ReturnResponse: packageInUse\n'
    printf -- '- InstallerReturnCode: 3\n  ReturnResponse: fileInUse\n'
    printf 'AppsAndFeaturesEntries:\n- DisplayName: %s\n  Publisher: %s\n  DisplayVersion: %s\n  ProductCode: %s\n' \
      "$name" "$vendor" "$version" "$key"
    printf "Installers:\n- Architecture: x64\n  InstallerUrl: '%s/%s'\n  InstallerSha256: %s\n" \
      "$url" "$(basename "$installer")" "$sha"
    printf 'ManifestType: installer\nManifestVersion: %s\n' "$schema"; } >"$dir/$id.installer.yaml"
  { header defaultLocale
    printf 'PackageIdentifier: %s\nPackageVersion: %s\nPackageLocale: en-US\n' "$id" "$version"
    printf 'Publisher: %s\nPackageName: %s\nLicense: Proprietary\n' "$vendor" "$name"
    printf 'ShortDescription: The tray client of the %s service.\n' "$name"
    printf 'ManifestType: defaultLocale\nManifestVersion: %s\n' "$schema"; } >"$dir/$id.locale.en-US.yaml"
  { header locale
    printf 'PackageIdentifier: %s\nPackageVersion: %s\nPackageLocale: zh-CN\n' "$id" "$version"
    printf 'Publisher: %s\nPackageName: 澜珀VPN\nLicense: 专有软件\nShortDescription: 澜珀VPN 服务的托盘客户端。\n' "$vendor"
    printf 'ManifestType: locale\nManifestVersion: %s\n' "$schema"; } >"$dir/$id.locale.zh-CN.yaml"
}

ensure_packages
# The commit's time for everything that would otherwise stamp the clock.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$NORV_ROOT" rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git -C "$NORV_ROOT" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi
[ -n "${NORV_NO_BUILD:-}" ] || configure_and_build "$BUILD_DIR" >&2
[ -f "$BUILD_DIR/CPackConfig.cmake" ] || die "$BUILD_DIR is not configured (no CPackConfig.cmake)"
PACKAGE_DIR=${PACKAGE_DIR:-$BUILD_DIR/packages}
mkdir -p "$PACKAGE_DIR"
args=(--config "$BUILD_DIR/CPackConfig.cmake" -B "$PACKAGE_DIR")
if [ -n "$dev" ]; then
  args+=(-D CPACK_NORV_DEV_RUNTIME=ON -D CPACK_NORV_WEBVIEW2_LOADER=)
else
  args+=(-D CPACK_NORV_DEV_RUNTIME=OFF -D "CPACK_NORV_WEBVIEW2_LOADER=$loader")
fi
unset NORV_SIGN_PKCS12 NORV_SIGN_SAVE_DIR NORV_SIGN_ATTACH_DIR
if [ -n "$pkcs12" ]; then
  export NORV_SIGN_PKCS12=$pkcs12 NORV_SIGN_SAVE_DIR=$PACKAGE_DIR/signatures
  rm -rf "$NORV_SIGN_SAVE_DIR"
  args+=(-D CPACK_NORV_SIGN=ON)
elif [ -n "$attach" ]; then
  export NORV_SIGN_ATTACH_DIR=$attach
  args+=(-D CPACK_NORV_SIGN=ON)
else
  args+=(-D CPACK_NORV_SIGN=OFF)
fi
out=$(mktemp)
if ! cpack "${args[@]}" >"$out" 2>&1; then
  cat "$out" >&2
  log=$(find "$PACKAGE_DIR/_CPack_Packages" -name NSISOutput.log 2>/dev/null | head -n 1)
  [ -z "$log" ] || tail -n 20 "$log" >&2
  rm -f "$out"
  die "cpack could not make the package"
fi
package=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$out")
rm -f "$out"
[ -f "$package" ] || die "cpack named no package it made"
log "package: $(stat -c %s "$package") bytes"
[ -d "$PACKAGE_DIR/symbols" ] || die "cpack left no symbols folder in $PACKAGE_DIR"
log "symbols: $PACKAGE_DIR/symbols, $(du -sb "$PACKAGE_DIR/symbols" | cut -f1) bytes"
# The same commit gives other bytes on another Debian release (another
# compiler, linker and makensis): a release publishes what it was built with,
# and whoever checks it builds on the same.
{
  echo "Debian $(cat /etc/debian_version)"
  dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev nsis cmake 2>/dev/null
} >"$PACKAGE_DIR/build-environment.txt"
log "build environment: $PACKAGE_DIR/build-environment.txt"
if [ -n "$url" ]; then
  write_winget_manifests "$package" "$PACKAGE_DIR/winget"
  log "winget manifests: $PACKAGE_DIR/winget"
fi
echo "$package"
