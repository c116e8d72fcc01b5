#!/usr/bin/env bash
# Builds the checked-out commit twice, in two clones at different paths (build
# folders too) and at different times, and compares the unsigned programs and
# installers, release and development packages alike. Prints the hashes; exits
# non-zero on any difference or on a build path found in a shipped file.
#   scripts/check-reproducible.sh [--webview2-loader PATH] [--keep]
# Without --webview2-loader the release package carries a fixed stand-in file
# in the loader's place (the SDK's loader is an input from outside, not ours).
# Work folders go below NORV_REPRO_DIR (default /tmp).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
loader= keep=
while [ $# -gt 0 ]; do
  case $1 in
    --webview2-loader) [ $# -ge 2 ] || die "--webview2-loader needs a path"; loader=$(realpath "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    *) die "usage: $0 [--webview2-loader PATH] [--keep]" ;;
  esac
done
ensure_packages
commit=$(git -C "$NORV_ROOT" rev-parse HEAD) || die "$NORV_ROOT is not a git checkout"
[ -z "$(git -C "$NORV_ROOT" status --porcelain --untracked-files=no)" ] ||
  log "uncommitted changes are not part of the check: it builds $commit"
SOURCE_DATE_EPOCH=$(git -C "$NORV_ROOT" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

work=$(mktemp -d "${NORV_REPRO_DIR:-/tmp}/norv-repro.XXXXXX")
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT
if [ -z "$loader" ]; then
  loader=$work/WebView2Loader.dll
  printf 'stands in for the WebView2 SDK loader in the reproducibility check\n' >"$loader"
fi

# One clone, built with only what ships (and the development stand-ins), both
# packages made by the clone's own package.sh. $1 clone path, $2 build folder.
build_clone() {
  local src=$1 build=$2 start=$SECONDS
  mkdir -p "$(dirname "$build")"
  git clone --quiet --no-hardlinks "$NORV_ROOT" "$src" || die "git clone into $src failed"
  git -C "$src" checkout --quiet --detach "$commit" || die "checkout of $commit in $src failed"
  cmake --preset mingw -S "$src" -B "$build" -DBUILD_TESTING=OFF >"$build.configure.log" 2>&1 ||
    { tail -n 20 "$build.configure.log" >&2; die "cmake could not configure $build"; }
  cmake --build "$build" -j "$(nproc)" --target norvvpnui uninstall-cleaner webview-runtime winbrand \
    >"$build.build.log" 2>&1 || { tail -n 20 "$build.build.log" >&2; die "the build failed in $build"; }
  NORV_NO_BUILD=1 BUILD_DIR=$build PACKAGE_DIR=$build/release "$src/scripts/package.sh" \
    --webview2-loader "$loader" >/dev/null 2>"$build.package.log" ||
    { cat "$build.package.log" >&2; die "the release package failed in $build"; }
  NORV_NO_BUILD=1 BUILD_DIR=$build PACKAGE_DIR=$build/dev "$src/scripts/package.sh" --dev-runtime \
    >/dev/null 2>>"$build.package.log" || { cat "$build.package.log" >&2; die "the development package failed in $build"; }
  log "built $src in $((SECONDS - start)) s"
}

a_src=$work/a/norvvpn a_build=$work/a/norvvpn/build
b_src=$work/second-place/b/clone-of-norvvpn b_build=$work/second-place/b/out/bld
build_clone "$a_src" "$a_build"
build_clone "$b_src" "$b_build"

version=$(cpack_value "$a_build" CPACK_PACKAGE_VERSION)
files=(client/norvvpnui.exe uninstall-cleaner/uninstall-cleaner.exe
       "release/NorvVPN-$version-win64.exe" "dev/NorvVPN-$version-win64-dev.exe")
strings=x86_64-w64-mingw32-strings
command -v "$strings" >/dev/null || die "missing: $strings (package binutils-mingw-w64-x86-64)"
differ=0
printf '%-40s %-64s %s\n' file "sha256 ($a_src)" "same in $b_src"
for f in "${files[@]}"; do
  [ -f "$a_build/$f" ] && [ -f "$b_build/$f" ] || die "$f was not made in both builds"
  ha=$(sha256sum "$a_build/$f" | cut -d' ' -f1)
  hb=$(sha256sum "$b_build/$f" | cut -d' ' -f1)
  if [ "$ha" = "$hb" ]; then same=yes; else same="NO: $hb"; differ=1; fi
  printf '%-40s %s %s\n' "$f" "$ha" "$same"
  # Neither clone's paths may be in a shipped file, in 8-bit or UTF-16 strings.
  # The toolchain's own strings: a machine set up by lib.sh has no native binutils.
  for s in "$a_src" "$b_src" "$work"; do
    if { "$strings" -a "$a_build/$f"; "$strings" -a -el "$a_build/$f"; } | grep -qF "$s"; then
      log "$f holds the build path $s"
      differ=1
    fi
  done
done
if [ "$differ" -ne 0 ]; then
  hint="compare with: diffoscope <a> <b>"
  command -v diffoscope >/dev/null || hint="install diffoscope (apt-get install diffoscope-minimal) to see where they differ"
  [ -n "$keep" ] || hint="run again with --keep, then $hint"
  die "the two builds differ ($hint); builds in $work"
fi
log "identical: ${#files[@]} files from two clones of $commit"
