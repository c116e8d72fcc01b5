#!/usr/bin/env bash
# scripts/package.sh --release-url: winget's manifests beside a release
# installer, read with PyYAML and checked against that installer: its hash and
# name under the URL, a 64-bit NSIS installer asking for administrators, the
# uninstall entry's key and the exit statuses.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Any DLL stands in for the SDK's loader.
package=$(NORV_NO_BUILD=1 PACKAGE_DIR="$work" "$root/scripts/package.sh" \
          --webview2-loader "$BUILD_DIR/devkit/webview-runtime/WebView2Loader.dll" \
          --release-url https://downloads.example.com/norvvpn/1.0.0.0/ 2>"$work/package.log" | tail -n 1) ||
  { cat "$work/package.log"; echo "FAIL: package.sh --release-url" >&2; exit 1; }
python3 - "$package" "$work/winget" <<'PY'
import hashlib, os, struct, sys, yaml
installer, folder = sys.argv[1:]
data = open(installer, "rb").read()
machine = struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]
head = {"PackageIdentifier": "Norv.NorvVPN", "PackageVersion": "1.0.0.0", "ManifestVersion": "1.12.0"}
expected = {
    "Norv.NorvVPN.yaml": dict(head, ManifestType="version", DefaultLocale="en-US"),
    "Norv.NorvVPN.installer.yaml": dict(
        head, ManifestType="installer", InstallerType="nullsoft" if b"NullsoftInst" in data else "?",
        Scope="machine" if b"requireAdministrator" in data else "?", ProductCode="NorvVPN",
        ExpectedReturnCodes=[{"InstallerReturnCode": "2", "ReturnResponse": "packageInUse"},
                             {"InstallerReturnCode": "3", "ReturnResponse": "fileInUse"}],
        Installers=[{"Architecture": "x64" if machine == 0x8664 else "?",
                     "InstallerUrl": "https://downloads.example.com/norvvpn/1.0.0.0/" + os.path.basename(installer),
                     "InstallerSha256": hashlib.sha256(data).hexdigest().upper()}]),
    "Norv.NorvVPN.locale.en-US.yaml": dict(head, ManifestType="defaultLocale", PackageLocale="en-US",
                                           Publisher="Norv", PackageName="NorvVPN"),
    "Norv.NorvVPN.locale.zh-CN.yaml": dict(head, ManifestType="locale", PackageLocale="zh-CN",
                                           PackageName="澜珀VPN"),
}
failed = [] if sorted(os.listdir(folder)) == sorted(expected) else ["files: %s" % os.listdir(folder)]
for name, fields in expected.items():
    manifest = yaml.load(open(os.path.join(folder, name), encoding="utf-8"), Loader=yaml.BaseLoader) or {}
    failed += ["%s %s: %r" % (name, key, manifest.get(key)) for key in fields if manifest.get(key) != fields[key]]
sys.exit("FAIL: " + "; ".join(failed) if failed else 0)
PY
echo ok
