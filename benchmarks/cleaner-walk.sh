#!/usr/bin/env bash
# Times report-only runs of uninstall-cleaner over the native uninstall list
# filled with 1,000 and then 10,000 entries (a few of them product entries),
# prints both times and their ratio, and removes its entries again.
# Needs a build: BUILD_DIR=/path/to/build benchmarks/cleaner-walk.sh
# RUNS (default 3) runs per size; the fastest counts.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
BUILD_DIR=$(cd "${BUILD_DIR:-$NORV_ROOT/build}" && pwd)
exe=$BUILD_DIR/uninstall-cleaner/uninstall-cleaner.exe
[ -f "$exe" ] || { echo "no $exe: build first" >&2; exit 1; }
RUNS=${RUNS:-3}
LIST='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
PRODUCT_EVERY=500  # 2 product entries per 1,000

work=$(mktemp -d)
trap 'wine_session_stop; rm -rf "$work"' EXIT
ensure_packages
wine_session_start "$BUILD_DIR"

# Entries first..last as an installer would write them; with "-" their removal.
write_reg() {
  local file=$1 first=$2 last=$3 remove=${4:-} i
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for ((i = first; i <= last; i++)); do
      if [ -n "$remove" ]; then
        printf '[-%s\\NorvBench_%05d]\r\n' "$LIST" "$i"
        continue
      fi
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

import_reg() {
  local start=$SECONDS
  wine reg import "$(winepath -w "$1")" >/dev/null 2>&1
  log "imported $(basename "$1") in $((SECONDS - start)) s"
}

entry_count() {
  wine reg query "$LIST" 2>/dev/null | tr -d '\r' | grep -c '\\NorvBench_' || true
}

# Fastest of RUNS report-only runs, in seconds; checks the product lines.
time_walk() {
  local expected=$1 best= i start end elapsed found
  for ((i = 0; i < RUNS; i++)); do
    start=$(date +%s%N)
    wine "$exe" >"$work/out.txt" 2>/dev/null
    end=$(date +%s%N)
    found=$(tr -d '\r' <"$work/out.txt" | grep -c '^found name DisplayName:NorvVPN at .*\\NorvBench_' || true)
    if [ "$found" != "$expected" ]; then
      echo "expected $expected product lines, got $found" >&2
      exit 1
    fi
    elapsed=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
  done
  echo "$best"
}

seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

base_ms=$(time_walk 0)
write_reg "$work/first.reg" 1 1000
import_reg "$work/first.reg"
small_ms=$(time_walk $((1000 / PRODUCT_EVERY)))
write_reg "$work/rest.reg" 1001 10000
import_reg "$work/rest.reg"
[ "$(entry_count)" = 10000 ] || { echo "expected 10000 entries after import" >&2; exit 1; }
large_ms=$(time_walk $((10000 / PRODUCT_EVERY)))

write_reg "$work/remove.reg" 1 10000 remove
import_reg "$work/remove.reg"
left=$(entry_count)

printf 'uninstall-cleaner report-only walk, fastest of %d runs each\n' "$RUNS"
printf '  no bench entries (start):    %s s\n' "$(seconds "$base_ms")"
printf '  1,000 entries:               %s s\n' "$(seconds "$small_ms")"
printf '  10,000 entries:              %s s\n' "$(seconds "$large_ms")"
awk -v b="$base_ms" -v s="$small_ms" -v l="$large_ms" 'BEGIN {
  printf "  ratio 10,000 / 1,000:        %.2f\n", l / s
  if (s > b) printf "  ratio without process start: %.2f\n", (l - b) / (s - b)
}'
printf '  benchmark entries left:      %s\n' "$left"
[ "$left" = 0 ]
