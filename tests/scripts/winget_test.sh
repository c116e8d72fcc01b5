#!/usr/bin/env bash
# scripts/package.sh --release-url: winget's manifests beside a release
# installer, read with PyYAML and checked against that installer (its hash and
# name under the URL, a 64-bit NSIS installer that asks for administrator
# rights), the uninstall entry it writes and its exit statuses; a URL that is
# not http(s) is refused.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Any DLL stands in for the SDK's loader.
loader=$BUILD_DIR/devkit/webview-runtime/WebView2Loader.dll
if NORV_NO_BUILD=1 PACKAGE_DIR="$work/none" "$root/scripts/package.sh" --webview2-loader "$loader" \
     --release-url ftp://example.com/x >"$work/none.log" 2>&1; then
  fail "package.sh took an ftp URL"
fi
grep -q "not an http(s) URL" "$work/none.log" || { cat "$work/none.log"; fail "no message about the URL"; }

package=$(NORV_NO_BUILD=1 PACKAGE_DIR="$work/out" "$root/scripts/package.sh" --webview2-loader "$loader" \
          --release-url https://downloads.example.com/norvvpn/1.0.0.0/ 2>"$work/package.log" | tail -n 1) ||
  { cat "$work/package.log"; fail "package.sh --release-url"; }

python3 - "$package" "$work/out/winget" <<'PY'
import hashlib, os, struct, sys
import yaml

installer, folder = sys.argv[1:]
failed = []
def check(condition, what):
    if not condition:
        failed.append(what)

def load(name):
    with open(os.path.join(folder, name), encoding="utf-8") as f:
        return yaml.load(f, Loader=yaml.BaseLoader)  # every value as written, a string

check(sorted(os.listdir(folder)) == ["Norv.NorvVPN.installer.yaml", "Norv.NorvVPN.locale.en-US.yaml",
                                     "Norv.NorvVPN.locale.zh-CN.yaml", "Norv.NorvVPN.yaml"], "file names")
version, setup = load("Norv.NorvVPN.yaml"), load("Norv.NorvVPN.installer.yaml")
english, chinese = load("Norv.NorvVPN.locale.en-US.yaml"), load("Norv.NorvVPN.locale.zh-CN.yaml")
for manifest, kind in ((version, "version"), (setup, "installer"), (english, "defaultLocale"), (chinese, "locale")):
    check((manifest["PackageIdentifier"], manifest["PackageVersion"], manifest["ManifestType"],
           manifest["ManifestVersion"]) == ("Norv.NorvVPN", "1.0.0.0", kind, "1.12.0"), kind + " heading")
check(version["DefaultLocale"] == "en-US" and english["PackageLocale"] == "en-US", "default locale")
check((english["Publisher"], english["PackageName"]) == ("Norv", "NorvVPN") and english["License"] and
      english["ShortDescription"], "en-US texts")
check((chinese["PackageLocale"], chinese["PackageName"]) == ("zh-CN", "澜珀VPN"), "zh-CN texts")

with open(installer, "rb") as f:
    data = f.read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
check(setup["InstallerType"] == "nullsoft" and b"NullsoftInst" in data, "an NSIS installer")
check(setup["Scope"] == "machine" and b"requireAdministrator" in data, "per machine, asking for administrators")
check(setup["ProductCode"] == "NorvVPN" and setup["AppsAndFeaturesEntries"][0]["ProductCode"] == "NorvVPN",
      "the uninstall entry's key")
check(setup["ExpectedReturnCodes"] == [{"InstallerReturnCode": "2", "ReturnResponse": "packageInUse"},
                                       {"InstallerReturnCode": "3", "ReturnResponse": "fileInUse"}], "exit statuses")
[entry] = setup["Installers"]
check(entry["Architecture"] == "x64" and struct.unpack_from("<H", data, pe + 4)[0] == 0x8664, "x64")
check(entry["InstallerUrl"] == "https://downloads.example.com/norvvpn/1.0.0.0/NorvVPN-1.0.0.0-win64.exe", "URL")
check(entry["InstallerSha256"].lower() == hashlib.sha256(data).hexdigest(), "the installer's hash")
if failed:
    sys.exit("FAIL: " + ", ".join(failed))
PY
echo "ok"
