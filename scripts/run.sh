#!/usr/bin/env bash
# Runs the client under Wine against the development local service, with the
# stand-in web view runtime and winbrand.dll beside a copy of it.
#   scripts/run.sh [--lang en_US|zh_CN|zh_TW] [--headless]
# With a display you get the window and the tray icon; quit from the tray
# menu's Exit. Without one (or with --headless) it runs in Xvfb, waits for the
# start-up balloon, saves a screenshot, opens the tray menu, chooses Exit by
# keys and reports what the service received.
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
cp "$BUILD_DIR/devkit/webview-standin/WebView2Loader.dll" "$run/"
cp "$BUILD_DIR/devkit/winbrand-standin/winbrand.dll" "$run/"
: >"$run/service.log"

service_pid=
client_pid=
cleanup() {
  [ -z "$client_pid" ] || kill "$client_pid" 2>/dev/null || true
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  wine_session_stop
}
trap cleanup EXIT
if [ -n "$headless" ]; then unset WANT_DISPLAY; else export WANT_DISPLAY=$DISPLAY; fi
wine_session_start "$BUILD_DIR"
export LANG="$lang.UTF-8" LC_ALL="$lang.UTF-8"

port_answers() { (exec 3<>/dev/tcp/127.0.0.1/13001) 2>/dev/null; }
if port_answers; then
  log "something already answers on 127.0.0.1:13001; using it"
else
  wine "$BUILD_DIR/devkit/local-service/local-service.exe" --port 13001 --log "$(winepath -w "$run/service.log")" \
    >/dev/null 2>&1 &
  service_pid=$!
  for _ in $(seq 100); do port_answers && break; sleep 0.1; done
  port_answers || { echo "the development service did not start" >&2; exit 1; }
  log "development service on http://127.0.0.1:13001 (requests: $run/service.log)"
fi

export NORV_WEBVIEW_LOG="$(winepath -w "$run/webview.log")"
(cd "$run" && exec wine norvvpnui.exe >"$run/client.out" 2>"$run/client.err") &
client_pid=$!
log "client started (UI language $lang); stdout in $run/client.out"

if [ -z "$headless" ]; then
  wait "$client_pid" || true
  client_pid=
  exit 0
fi

# Headless: the balloon comes 10 s after start.
for _ in $(seq 150); do grep -q tunnel "$run/client.out" 2>/dev/null && break; sleep 0.1; done
sleep 3
import -window root "$run/screenshot.png"
echo "screenshot: $run/screenshot.png"
echo "client said: $(cat "$run/client.out")"

# Close the window (it hides to the tray), right-click the icon in Wine's
# stand-alone tray, then Exit by keys.
main=
for w in $(xdotool search --classname '^norvvpnui.exe$' 2>/dev/null); do
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [ "$WIDTH" -ge 300 ] && main=$w && break
done
tray=$(xdotool search --name '^Wine System Tray$' 2>/dev/null | head -1 || true)
if [ -n "$main" ] && [ -n "$tray" ]; then
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove --sync $((X + WIDTH - 10)) $((Y + 10)) click 1
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  xdotool mousemove --sync $((X + 13)) $((Y + HEIGHT - 13)) click 3
  sleep 1.5
  import -window root "$run/menu.png"
  echo "menu screenshot: $run/menu.png"
  # The menu is [Connect|Disconnect] Exit, or Exit alone without the page's switch.
  # Keys go to the X focus: give it to the menu's window first.
  menu=
  for w in $(xdotool search --classname '^norvvpnui.exe$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$HEIGHT" -gt 10 ] && [ "$HEIGHT" -lt 200 ] && [ "$WIDTH" -lt 300 ] && menu=$w
  done
  [ -z "$menu" ] || xdotool windowfocus "$menu" 2>/dev/null || true
  if grep -q 'ExecuteScript.result null' "$run/webview.log"; then keys="Down Return"; else keys="Down Down Return"; fi
  for k in $keys; do xdotool key "$k"; sleep 0.2; done
  for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
fi
if kill -0 "$client_pid" 2>/dev/null; then
  echo "the client is still running; stopping it" >&2
else
  wait "$client_pid" && echo "client exited with status 0" || echo "client exited with status $?"
  client_pid=
fi
echo "the service received:"
sed 's/\t.*//' "$run/service.log"
