#!/usr/bin/env bash
# What the client and the cleaner cost under Wine, each measured side by side
# with what it is compared against, in one run: programs alternate, every
# figure is a median, and only the ratios mean much on a shared machine.
#   benchmarks/run.sh [SECTIONS]
# SECTIONS picks some of the letters abcdef below (default all of them).
# RUNS (default 7) rounds per timing; IDLE_RUNS (default 7) rounds of
# IDLE_SECONDS (default 30) for the idle wake-ups. Builds what it needs, runs
# in a network namespace of its own (127.0.0.1:13001 stays private) with its
# own X server and Wine prefix, and leaves nothing running.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
BUILD_DIR=${BUILD_DIR:-$NORV_ROOT/build}
BUILD_DIR=$(mkdir -p "$BUILD_DIR" && cd "$BUILD_DIR" && pwd)
export BUILD_DIR
RUNS=${RUNS:-7}
IDLE_RUNS=${IDLE_RUNS:-7}
IDLE_SECONDS=${IDLE_SECONDS:-30}
SECTIONS=${1:-abcdef}
[[ $SECTIONS =~ ^[a-f]+$ ]] || { echo "usage: $0 [letters of the sections, a to f]" >&2; exit 2; }
SETTLE_MS=1500  # after the window: start-up requests done, then the working set

# Only what the measures use; the tests need not be built for them.
build_programs() {
  [ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake --preset mingw -S "$NORV_ROOT" -B "$BUILD_DIR" >/dev/null
  local targets=(norvvpnui uninstall-cleaner local-service winbrand webview-runtime minimal-window trivial
                 proxy-floor brand-floor bench-driver)
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target "${targets[@]}" >/dev/null
}

if [ -z "${NORV_IN_NETNS:-}" ]; then
  ensure_packages
  [ -n "${NORV_NO_BUILD:-}" ] || build_programs
  ensure_locales "$BUILD_DIR/locales"
  ensure_wine_template "$BUILD_DIR/wine/template"
  if unshare -n true 2>/dev/null; then
    exec env NORV_IN_NETNS=1 unshare -n bash "$0" "$@"
  fi
  log "no network namespace here: the development service takes the machine's 127.0.0.1:13001"
else
  ip link set lo up
fi

RUN=$BUILD_DIR/bench
LIST='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
PRODUCT_EVERY=500  # 2 product entries per 1,000
service_pid=
idle_pids=()
cleanup() {
  local p
  for p in "${idle_pids[@]}" $service_pid; do kill "$p" 2>/dev/null || true; done
  wine_session_stop
}
trap cleanup EXIT

# A host path as Wine sees it, without starting a Wine process for it.
win_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
port_answers() { (exec 3<>/dev/tcp/127.0.0.1/13001) 2>/dev/null; }
driver() { wine "$BUILD_DIR/benchmarks/bench-driver.exe" "$@" </dev/null; }
# The median of one measure for one label from the driver's output in $1.
median() { awk -v m="$2" -v l="$3" '$1 == m && $2 == l { print $3 }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.1f ms", v }'; }

rm -rf "$RUN"
mkdir -p "$RUN/bare" "$RUN/webview" "$RUN/minimal"
for f in client/norvvpnui.exe devkit/winbrand-standin/winbrand.dll benchmarks/trivial.exe \
         benchmarks/proxy-floor.exe benchmarks/brand-floor.exe; do
  cp "$BUILD_DIR/$f" "$RUN/bare/"
done
cp "$BUILD_DIR/benchmarks/minimal-window.exe" "$RUN/minimal/"
cp "$RUN/bare/norvvpnui.exe" "$RUN/bare/winbrand.dll" "$RUN/webview/"
cp "$BUILD_DIR/devkit/webview-runtime/WebView2Loader.dll" "$RUN/webview/"
with_view="web view runtime"

echo "NorvVPN benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$NORV_ROOT" rev-parse --short HEAD)$(git -C "$NORV_ROOT" diff --quiet HEAD -- client uninstall-cleaner || echo ' + changes')"
echo "machine: $(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg); medians of $RUNS alternating runs unless said"

wine_session_start "$BUILD_DIR"
wine "$BUILD_DIR/devkit/local-service/local-service.exe" --port 13001 --log "$(win_path "$RUN/service.log")" \
  </dev/null >/dev/null 2>&1 &
service_pid=$!
for _ in $(seq 100); do port_answers && break; sleep 0.1; done
port_answers || { echo "the development service did not start" >&2; exit 1; }
# Warm: the first processes of a session start Wine's services.
wine "$RUN/bare/trivial.exe" </dev/null >/dev/null 2>&1 || true

bare=$(win_path "$RUN/bare")
tools_section() {
# (a), (b): start to exit of the tool modes and their floors.
pac='http://127.0.0.1:8080/proxy.pac'
global='127.0.0.1:8080 <local>;*.example.com'
driver exit "$RUNS" \
  "trivial|$bare\\trivial.exe|" \
  "off|$bare\\norvvpnui.exe|off" "off-floor|$bare\\proxy-floor.exe|off" \
  "pac|$bare\\norvvpnui.exe|pac $pac" "pac-floor|$bare\\proxy-floor.exe|pac $pac" \
  "global|$bare\\norvvpnui.exe|global $global" "global-floor|$bare\\proxy-floor.exe|global $global" \
  "brand|$bare\\norvvpnui.exe|brand" "brand-floor|$bare\\brand-floor.exe|" >"$RUN/tools.txt"
trivial=$(median "$RUN/tools.txt" exit trivial)
echo
echo "(a) tool modes, start to exit (trivial exe $(ms "$trivial"))"
printf '  %-8s %10s %12s %10s %10s\n' mode client 'WinINet floor' '/trivial' '/floor'
for mode in off pac global; do
  c=$(median "$RUN/tools.txt" exit "$mode")
  f=$(median "$RUN/tools.txt" exit "$mode-floor")
  printf '  %-8s %10s %12s %10s %10s\n' "$mode" "$(ms "$c")" "$(ms "$f")" "$(ratio "$c" "$trivial")" "$(ratio "$c" "$f")"
done
c=$(median "$RUN/tools.txt" exit brand)
f=$(median "$RUN/tools.txt" exit brand-floor)
echo
echo "(b) brand against the development service, start to exit"
printf '  %-8s %10s %12s %10s %10s\n' mode client 'WinHTTP floor' '/trivial' '/floor'
printf '  %-8s %10s %12s %10s %10s\n' brand "$(ms "$c")" "$(ms "$f")" "$(ratio "$c" "$trivial")" "$(ratio "$c" "$f")"
}

window_section() {
# (c), (f) working set: start to visible window (and first page frame).
frame='|frame'
driver window "$RUNS" "$SETTLE_MS" \
  "minimal|$(win_path "$RUN/minimal")\\minimal-window.exe|" \
  "bare|$bare\\norvvpnui.exe|" \
  "webview|$(win_path "$RUN/webview")\\norvvpnui.exe|$frame" >"$RUN/window.txt"
m=$(median "$RUN/window.txt" visible minimal)
echo
echo "(c) start to visible window (minimal 400 x 640 window program $(ms "$m"))"
for v in bare webview; do
  c=$(median "$RUN/window.txt" visible "$v")
  [ "$v" = bare ] && what="client, no web view beside it" || what="client, $with_view beside it"
  printf '  %-40s %10s %8s\n' "$what" "$(ms "$c")" "$(ratio "$c" "$m")"
done
c=$(median "$RUN/window.txt" frame webview)
printf '  %-40s %10s %8s\n' "first painted page frame" "$(ms "$c")" "$(ratio "$c" "$m")"
}

idle_section() {
# (d): context switches of every thread of the process over IDLE_SECONDS,
# from a second after the balloon (the tunnel-state request); the minimal
# window program over the same stretch of its life. They take turns: run
# together, each one's windows would repaint the other.
# "tid count" for every thread of the process.
switches() {
  local t
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" '/^(non)?voluntary_ctxt_switches/ { s += $2 } END { print tid, s + 0 }' \
      "$t/status" 2>/dev/null || true
  done
}
# Switches between two readings: threads seen in both by their difference,
# new ones whole. A thread that ended in between takes its count with it;
# those are counted apart.
switch_delta() {
  awk 'NR == FNR { before[$1] = $2; next }
       { total += $2 - ($1 in before ? before[$1] : 0); seen[$1] = 1 }
       END { for (t in before) if (!(t in seen)) gone++; print total + 0, gone + 0 }' \
    <(printf '%s\n' "$1") <(printf '%s\n' "$2")
}
requests() {
  local n
  n=$(grep -c 'getTunnelStat' "$RUN/service.log" 2>/dev/null) || true
  echo "${n:-0}"
}
# The balloon asks for 15 s, and Wine's tray shows it 2 s after the call:
# from 20 s after the request on it is gone, whatever it did.
BALLOON_GONE=20
# Seconds from $1 (date +%s.%N) plus $2 to now, or 0 when that has passed.
sleep_until() { sleep "$(awk -v a="$1" -v d="$2" -v n="$(date +%s.%N)" 'BEGIN { w = a + d - n; print (w > 0 ? w : 0) }')"; }
# idle_run FOLDER EXE OFFSET: OFFSET empty waits for the client's request and
# prints it as the offset used; prints "offset whole late gone".
idle_run() {
  local folder=$1 exe=$2 offset=$3 before pid started asked s0 sl s1 whole gone late
  before=$(requests)
  started=$(date +%s.%N)
  (cd "$folder" && exec wine "$exe" </dev/null >/dev/null 2>&1) &
  pid=$!
  idle_pids=("$pid")
  if [ -z "$offset" ]; then
    for _ in $(seq 300); do [ "$(requests)" -gt "$before" ] && break; sleep 0.1; done
    [ "$(requests)" -gt "$before" ] || { echo "the client sent no tunnel-state request" >&2; exit 1; }
    asked=$(date +%s.%N)
    offset=$(awk -v a="$asked" -v s="$started" 'BEGIN { printf "%.2f", a - s }')
  else
    asked=$(awk -v s="$started" -v o="$offset" 'BEGIN { printf "%.3f", s + o }')
  fi
  sleep_until "$asked" 1
  s0=$(switches "$pid")
  sl=$s0
  if ((IDLE_SECONDS + 1 > BALLOON_GONE)); then
    sleep_until "$asked" "$BALLOON_GONE"
    sl=$(switches "$pid")
  fi
  sleep_until "$asked" $((IDLE_SECONDS + 1))
  s1=$(switches "$pid")
  read -r whole gone <<<"$(switch_delta "$s0" "$s1")"
  read -r late _ <<<"$(switch_delta "$sl" "$s1")"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  idle_pids=()
  echo "$offset $whole $late $gone"
}
idle_client=() idle_bare=() idle_minimal=() idle_client_late=() idle_bare_late=() idle_minimal_late=() idle_gone=
for ((r = 0; r < IDLE_RUNS; r++)); do
  read -r offset cw cl cg <<<"$(idle_run "$RUN/webview" norvvpnui.exe "")"
  read -r _ bw bl bg <<<"$(idle_run "$RUN/bare" norvvpnui.exe "")"
  read -r _ mw ml mg <<<"$(idle_run "$RUN/minimal" minimal-window.exe "$offset")"
  idle_client+=("$cw") idle_client_late+=("$cl") idle_minimal+=("$mw") idle_minimal_late+=("$ml")
  idle_bare+=("$bw") idle_bare_late+=("$bl")
  idle_gone="$idle_gone $cg/$bg/$mg"
  sleep 0.5
done
list_median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
echo "(d) idle wake-ups over ${IDLE_SECONDS} s from 1 s after the balloon's request, median of $IDLE_RUNS taking turns"
echo "    (voluntary + nonvoluntary context switches of all threads, from /proc; the minimal window"
echo "    program over the same seconds of its life)"
idle_line() { printf '  %-40s %6s   (runs: %s)\n' "$1" "$(list_median "${@:2}")" "${*:2}"; }
idle_line "client, $with_view beside it" "${idle_client[@]}"
idle_line "client, no web view beside it" "${idle_bare[@]}"
idle_line "minimal window program" "${idle_minimal[@]}"
if ((IDLE_SECONDS + 1 > BALLOON_GONE)); then
  echo "  of which from ${BALLOON_GONE} s after the request on, when the balloon has gone:"
  idle_line "client, $with_view beside it" "${idle_client_late[@]}"
  idle_line "client, no web view beside it" "${idle_bare_late[@]}"
  idle_line "minimal window program" "${idle_minimal_late[@]}"
fi
echo "  threads that ended within the window, not counted (client/bare client/minimal):$idle_gone"
}

cleaner_section() {
# (e): the cleaner against `reg query /s` on the same list.
write_reg() {
  local file=$1 first=$2 last=$3 i
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for ((i = first; i <= last; i++)); do
      printf '[%s\\NorvBench_%05d]\r\n' "$LIST" "$i"
      if ((i % PRODUCT_EVERY == 0)); then
        printf '"DisplayName"="NorvVPN"\r\n'
      else
        printf '"DisplayName"="Bench Application %05d"\r\n' "$i"
      fi
      printf '"DisplayVersion"="1.%d"\r\n"Publisher"="Bench Publisher"\r\n' "$i"
      printf '"UninstallString"="C:\\\\Program Files\\\\Bench %05d\\\\uninstall.exe"\r\n' "$i"
      printf '"EstimatedSize"=dword:%08x\r\n\r\n' "$i"
    done
  } >"$file"
}
cleaner=$(win_path "$BUILD_DIR/uninstall-cleaner/uninstall-cleaner.exe")
# Both programs see the whole native list: the walk also finds the product
# entries, so the comparison checks the cleaner's result as well.
time_walks() {
  local size=$1 found
  found=$(wine "$BUILD_DIR/uninstall-cleaner/uninstall-cleaner.exe" </dev/null 2>/dev/null | tr -d '\r' |
          grep -c '^found name DisplayName:NorvVPN at .*\\NorvBench_' || true)
  [ "$found" = $((size / PRODUCT_EVERY)) ] || { echo "cleaner found $found product entries in $size" >&2; exit 1; }
  driver exit "$RUNS" "cleaner-$size|$cleaner|" \
    "reg-$size|C:\\windows\\system32\\reg.exe|query \"$LIST\" /s" >>"$RUN/cleaner.txt"
}
: >"$RUN/cleaner.txt"
# wineserver writes a changed registry to disk up to 30 s later and answers
# nobody while it does: wait for that before timing anything.
import_reg() {
  touch "$RUN/import.mark"
  sleep 1
  wine reg import "$(win_path "$1")" </dev/null >/dev/null 2>&1
  for _ in $(seq 600); do [ "$WINEPREFIX/system.reg" -nt "$RUN/import.mark" ] && break; sleep 0.1; done
  [ "$WINEPREFIX/system.reg" -nt "$RUN/import.mark" ] || log "the registry was not saved within 60 s"
}
time_walks 0
write_reg "$RUN/first.reg" 1 1000
import_reg "$RUN/first.reg"
time_walks 1000
write_reg "$RUN/rest.reg" 1001 10000
import_reg "$RUN/rest.reg"
time_walks 10000
echo
echo "(e) uninstall-cleaner (report only) against \`reg query /s\` on the native uninstall list"
printf '  %-16s %12s %12s %8s\n' 'bench entries' cleaner 'reg query' ratio
for size in 0 1000 10000; do
  c=$(median "$RUN/cleaner.txt" exit "cleaner-$size")
  g=$(median "$RUN/cleaner.txt" exit "reg-$size")
  printf '  %-16s %12s %12s %8s\n' "$size" "$(ms "$c")" "$(ms "$g")" "$(ratio "$c" "$g")"
done
growth() {
  local p=$1 e s l
  e=$(median "$RUN/cleaner.txt" exit "$p-0")
  s=$(median "$RUN/cleaner.txt" exit "$p-1000")
  l=$(median "$RUN/cleaner.txt" exit "$p-10000")
  awk -v e="$e" -v s="$s" -v l="$l" 'BEGIN {
    printf "%.2fx", l / s
    if (s > e) printf " (without the empty-list time: %.2fx, linear is 10)", (l - e) / (s - e)
  }'
}
echo "  10,000 / 1,000: cleaner $(growth cleaner); reg query $(growth reg)"
}

sizes_section() {
# (f): working set a moment after the window, and file sizes.
echo
echo "(f) working set ${SETTLE_MS} ms after the window, and binary sizes"
wm=$(median "$RUN/window.txt" workingset minimal)
for v in bare webview; do
  w=$(median "$RUN/window.txt" workingset "$v")
  [ "$v" = bare ] && what="client, no web view beside it" || what="client, $with_view beside it"
  printf '  %-40s %8.0f KiB %8s   (minimal %.0f KiB)\n' "$what" "$w" "$(ratio "$w" "$wm")" "$wm"
done
size_of() { stat -c %s "$BUILD_DIR/$1"; }
cs=$(size_of client/norvvpnui.exe) mws=$(size_of benchmarks/minimal-window.exe)
us=$(size_of uninstall-cleaner/uninstall-cleaner.exe) ts=$(size_of benchmarks/trivial.exe)
printf '  %-40s %8d bytes %6s   (minimal window %d)\n' norvvpnui.exe "$cs" "$(ratio "$cs" "$mws")" "$mws"
printf '  %-40s %8d bytes %6s   (trivial exe %d)\n' uninstall-cleaner.exe "$us" "$(ratio "$us" "$ts")" "$ts"
}

# The window's timings also give the working set.
if [[ $SECTIONS == *[ab]* ]]; then tools_section; fi
if [[ $SECTIONS == *[cf]* ]]; then window_section; fi
if [[ $SECTIONS == *d* ]]; then idle_section; fi
if [[ $SECTIONS == *e* ]]; then cleaner_section; fi
if [[ $SECTIONS == *f* ]]; then sizes_section; fi

echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
