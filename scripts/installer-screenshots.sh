#!/usr/bin/env bash
# Screenshots of the installer's and uninstaller's pages, taken under Xvfb
# from the development package, into docs/installer/ (or the folder given):
# installer welcome, folder and finish pages, uninstaller welcome, confirm and
# finish pages in English, and the welcome page and the message about a held
# file in Chinese (UI language 2052).
#   scripts/installer-screenshots.sh [FOLDER]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
BUILD_DIR=${BUILD_DIR:-$NORV_ROOT/build}
out=$(mkdir -p "${1:-$NORV_ROOT/docs/installer}" && cd "${1:-$NORV_ROOT/docs/installer}" && pwd)

ensure_packages
configure_and_build "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" --target installer_test_package hold-file >/dev/null
ensure_locales "$BUILD_DIR/locales"
package=$(ls "$BUILD_DIR"/packages-test/NorvVPN-*-win64-dev.exe)
work="$BUILD_DIR/installer-screenshots"
rm -rf "$work"
mkdir -p "$work"

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wine_session_stop
}
trap cleanup EXIT
unset WANT_DISPLAY
wine_session_start "$BUILD_DIR"

folder='C:\Program Files\NorvVPN'
entry='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\NorvVPN'
installed() { wine reg query "$entry" /v DisplayName >/dev/null 2>&1; }

# The newest top-level window whose title starts with $1, once there.
window() {
  local w=
  for _ in $(seq 300); do
    w=$(xdotool search --name "^$1" 2>/dev/null | tail -1 || true)
    [ -n "$w" ] && break
    sleep 0.1
  done
  [ -n "$w" ] || die "no window \"$1\" within 30 s"
  echo "$w"
}

# The window's pixels; Wine draws the caption inside its X window.
pixels() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" rgb:- 2>/dev/null | md5sum
}

# Waits until the window differs from $2 (the page before) and two looks
# 0.2 s apart agree (a caret blinks on some pages); its look in $last.
last=
settle() {
  local w=$1 before=$2 now previous=
  for _ in $(seq 300); do
    now=$(pixels "$w")
    [ "$now" != "$before" ] && [ "$now" = "$previous" ] && break
    previous=$now
    sleep 0.2
  done
  [ "$now" != "$before" ] && [ "$now" = "$previous" ] || die "window $w did not settle on a new page within 60 s"
  last=$now
}

# settle, then save the window as $3: an 8-bit palette and no chunks with
# times keep it small and the same each run.
shot() {
  settle "$1" "$2"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -strip -colors 64 \
    -define png:exclude-chunks=date,time "PNG8:$out/$3"
  echo "$out/$3"
}

press() {
  xdotool windowfocus "$1" 2>/dev/null || true
  xdotool key "$2"
}

wait_gone() {
  for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  die "$2 still runs 30 s after its last page"
}

# English: the installer's pages, then the uninstaller's.
wine "$package" >"$work/installer.log" 2>&1 &
pid=$!
pids+=("$pid")
w=$(window 'NorvVPN Setup')
shot "$w" "" installer-welcome.png
press "$w" Return
shot "$w" "$last" installer-folder.png
press "$w" Return
for _ in $(seq 300); do installed && break; sleep 0.1; done
installed || die "the installer made no uninstall entry within 30 s"
shot "$w" "$last" installer-finish.png
press "$w" Return
wait_gone "$pid" "the installer"

# The uninstaller goes on from a copy of itself in %TEMP%.
wine "$folder\\uninstall.exe" >"$work/uninstaller.log" 2>&1 &
pids+=($!)
w=$(window 'NorvVPN Uninstall')
shot "$w" "" uninstaller-welcome.png
press "$w" Return
shot "$w" "$last" uninstaller-confirm.png
press "$w" Return
for _ in $(seq 300); do installed || break; sleep 0.1; done
installed && die "the uninstaller left the uninstall entry for 30 s"
shot "$w" "$last" uninstaller-finish.png
press "$w" Return

# Chinese: the welcome page, and the message while another process holds the
# client's program.
wine "$package" /S >"$work/silent.log" 2>&1 || die "the silent install failed (status $?)"
wine "$BUILD_DIR/tests/hold-file.exe" "$folder\\norvvpnui.exe" >"$work/holder.log" 2>&1 &
holder=$!
pids+=("$holder")
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$package" >"$work/installer-zh.log" 2>&1 &
pid=$!
pids+=("$pid")
w=$(window '澜珀VPN 安装')
shot "$w" "" installer-welcome-zh.png
press "$w" Return
settle "$w" "$last"  # the folder page
press "$w" Return
message=
for _ in $(seq 300); do
  for m in $(xdotool search --name '^澜珀VPN 安装' 2>/dev/null || true); do [ "$m" = "$w" ] || message=$m; done
  [ -n "$message" ] && break
  sleep 0.1
done
[ -n "$message" ] || die "no message about the held file within 30 s"
shot "$message" "" installer-held-zh.png
press "$message" Escape
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 3 ] || die "the installer ended with status $rc after Cancel, not 3"
kill "$holder"
ls -l "$out"
