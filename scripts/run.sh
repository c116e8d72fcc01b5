#!/usr/bin/env bash
# Runs the client under Wine against the development local service, with the
# development web view runtime (Debian's Chromium behind it) and the winbrand
# stand-in beside a copy of it.
#   scripts/run.sh [--lang en_US|zh_CN|zh_TW] [--headless]
# With a display you get the window with the service's page and the tray
# icon; quit from the tray menu's Exit. Without one (or with --headless) it
# runs in Xvfb: it waits for the start-up balloon and saves a screenshot,
# connects through the tray menu and saves the page with its switch on, then
# opens the menu once more, chooses Exit by keys and reports what the service
# received.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
BUILD_DIR=${BUILD_DIR:-$NORV_ROOT/build}
lang=en_US
headless=
while [ $# -gt 0 ]; do
  case $1 in
    --lang) lang=${2%%.*}; shift 2 ;;
    --headless) headless=1; shift ;;
    *) echo "usage: $0 [--lang en_US|zh_CN|zh_TW] [--headless]" >&2; exit 2 ;;
  esac
done
[ -n "${DISPLAY:-}" ] || headless=1

ensure_packages
configure_and_build "$BUILD_DIR" >/dev/null
ensure_locales "$BUILD_DIR/locales"

run="$BUILD_DIR/run"
rm -rf "$run"
mkdir -p "$run"
cp "$BUILD_DIR/client/norvvpnui.exe" "$run/"
cp "$BUILD_DIR/devkit/webview-runtime/WebView2Loader.dll" "$run/"
cp "$BUILD_DIR/devkit/winbrand-standin/winbrand.dll" "$run/"
: >"$run/service.log"

service_pid=
client_pid=
tray_pid=
cleanup() {
  [ -z "$client_pid" ] || kill "$client_pid" 2>/dev/null || true
  [ -z "$tray_pid" ] || kill "$tray_pid" 2>/dev/null || true
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  wine_session_stop
}
trap cleanup EXIT
if [ -n "$headless" ]; then unset WANT_DISPLAY; else export WANT_DISPLAY=$DISPLAY; fi
wine_session_start "$BUILD_DIR"
export LANG="$lang.UTF-8" LC_ALL="$lang.UTF-8"

# Our X server has no system tray, and Wine 10 shows tray icons nowhere
# without one (Wine 8 made a stand-alone window of its own): a small panel
# along the bottom edge holds them, the client's first at its left end.
tray_panel() { xdotool search --classname '^panel$' 2>/dev/null | head -1 || true; }
if [ -n "$headless" ]; then
  trayer --edge bottom --align left --widthtype pixel --width 120 --heighttype pixel --height 32 \
    --SetDockType true >"$run/trayer.log" 2>&1 &
  tray_pid=$!
  for _ in $(seq 100); do [ -n "$(tray_panel)" ] && break; sleep 0.1; done
  [ -n "$(tray_panel)" ] || die "trayer showed no tray panel on $DISPLAY within 10 s (log in $run/trayer.log)"
fi

port_answers() { (exec 3<>/dev/tcp/127.0.0.1/13001) 2>/dev/null; }
if port_answers; then
  log "something already answers on 127.0.0.1:13001; using it"
else
  wine "$BUILD_DIR/devkit/local-service/local-service.exe" --port 13001 --log "$(winepath -w "$run/service.log")" \
    >/dev/null 2>&1 &
  service_pid=$!
  for _ in $(seq 100); do port_answers && break; sleep 0.1; done
  port_answers || die "the development service did not answer on 127.0.0.1:13001 within 10 s"
  log "development service on http://127.0.0.1:13001 (requests: $run/service.log)"
fi

NORV_WEBVIEW_LOG=$(winepath -w "$run/webview.log")
export NORV_WEBVIEW_LOG
(cd "$run" && exec wine norvvpnui.exe >"$run/client.out" 2>"$run/client.err") &
client_pid=$!
log "client started (UI language $lang); stdout in $run/client.out"

if [ -z "$headless" ]; then
  rc=0
  wait "$client_pid" || rc=$?
  client_pid=
  log "client exited with status $rc"
  exit 0
fi

# Headless: the balloon comes 10 s after start.
for _ in $(seq 150); do grep -q tunnel "$run/client.out" 2>/dev/null && break; sleep 0.1; done
grep -q tunnel "$run/client.out" || die "the client told no tunnel state within 15 s (stdout in $run/client.out)"
sleep 3
import -window root "$run/screenshot.png" || die "import could not take the screenshot"
[ -s "$run/screenshot.png" ] || die "the screenshot $run/screenshot.png is empty"
echo "screenshot: $run/screenshot.png (the page and the start-up balloon)"
echo "client said: $(cat "$run/client.out")"

# Close the window to the tray first, then work the tray icon.
main=
for w in $(xdotool search --classname '^norvvpnui.exe$' 2>/dev/null || true); do
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [ "$WIDTH" -ge 300 ] && [ "$HEIGHT" -ge 500 ] && main=$w && break
done
[ -n "$main" ] || die "no client window of 300 px or wider on $DISPLAY"
tray=$(tray_panel)
close_window() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove --sync $((X + WIDTH - 10)) $((Y + 10)) click 1
  sleep 1
}
tray_click() {  # 1 left, 3 right
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  xdotool mousemove --sync $((X + 12)) $((Y + HEIGHT / 2)) click "$1"
  sleep 1.5
}
# Keys go to the X focus: give it to the menu's window first. The menu is
# [Connect|Disconnect] Exit, or Exit alone without the page's switch.
choose_from_menu() {
  local menu= w k
  for w in $(xdotool search --classname '^norvvpnui.exe$' 2>/dev/null || true); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$HEIGHT" -gt 10 ] && [ "$HEIGHT" -lt 200 ] && [ "$WIDTH" -lt 300 ] && menu=$w
  done
  [ -n "$menu" ] || die "the tray menu did not open"
  xdotool windowfocus "$menu" 2>/dev/null || true
  for k in "$@"; do xdotool key "$k"; sleep 0.2; done
}
last_result() { grep 'ExecuteScript.result' "$run/webview.log" | tail -1 | cut -d' ' -f2 | tr -d '\r'; }

close_window
tray_click 3
if [ "$(last_result)" = false ]; then
  choose_from_menu Down Return
  for _ in $(seq 100); do grep -q 'connectLocation' "$run/service.log" && break; sleep 0.1; done
  grep -q 'connectLocation' "$run/service.log" || die "choosing Connect did not reach the service"
  tray_click 1  # the window back from the tray
  sleep 2.5
  import -window root "$run/connected.png" || die "import could not take the connected screenshot"
  echo "screenshot: $run/connected.png (connected through the tray menu: the page's switch is on)"
  close_window
  tray_click 3
else
  echo "the page's switch said $(last_result); not connecting" >&2
fi
import -window root "$run/menu.png" || die "import could not take the menu screenshot"
echo "menu screenshot: $run/menu.png"
if [ "$(last_result)" = null ]; then choose_from_menu Down Return; else choose_from_menu Down Down Return; fi
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client_pid" 2>/dev/null && die "the client still runs 10 s after Exit was chosen"
rc=0
wait "$client_pid" || rc=$?
client_pid=
echo "client exited with status $rc"
echo "the service received:"
sed 's/\t.*//' "$run/service.log"
[ "$rc" -eq 0 ] || die "the client exited with status $rc after Exit"
