#!/usr/bin/env bash
# The scripts' failure paths, with stand-in programs first on PATH: each
# failing step must say what failed and end the script non-zero.
set -uo pipefail
lib=$(cd "$(dirname "$0")/../../scripts" && pwd)/lib.sh
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# Runs a snippet in a new bash that has sourced lib.sh; sets out and rc.
run() {
  out=$(cd "$work" && bash -c 'source "$1"; eval "$2"' bash "$lib" "$1" 2>&1)
  rc=$?
}
ok() { passed=$((passed + 1)); echo "ok   $1"; }
bad() { failed=$((failed + 1)); printf 'FAIL %s: %s\n%s\n' "$1" "$2" "$out" | sed '3,$s/^/     | /'; }
expect_failure() { # name, text the output must hold
  if [ "$rc" -eq 0 ]; then bad "$1" "exit 0"
  elif [[ $out != *"$2"* ]]; then bad "$1" "no \"$2\""
  else ok "$1"; fi
}
# A stand-in program in folder $1 ($1/name), body of sh.
fake() {
  mkdir -p "$1"
  printf '#!/bin/sh\n%s\n' "$3" >"$1/$2"
  chmod +x "$1/$2"
}

# --- programs after the install
# Everything on the real list present as stand-ins except wineboot.
bin=$work/programs
run 'for e in "${NORV_PROGRAMS[@]}"; do p=${e%:*}; [ "${p:0:1}" = / ] || echo "$p"; done'
for p in $out; do [ "$p" = wineboot ] || fake "$bin" "$p" 'exit 0'; done
run "PATH='$bin'; ensure_programs"
if [ "$rc" -ne 0 ] && [ "$out" = "== FAILED: missing: wineboot (package wine)" ]; then ok "one line names wineboot and its package"
else bad "one line names wineboot and its package" "exit $rc"; fi
fake "$bin" wineboot 'exit 0'
run "PATH='$bin'; ensure_programs"
if [ "$rc" -eq 0 ] && [ -z "$out" ]; then ok "all programs there: silent"; else bad "all programs there: silent" "exit $rc"; fi

# --- locales
fake "$work/no-locale" localedef 'echo "[error] cannot open locale definition file" >&2; exit 4'
run "PATH='$work/no-locale':\$PATH; ensure_locales '$work/loc1'"
expect_failure "localedef failure is named" "localedef could not make en_US.UTF-8 in $work/loc1: [error] cannot open locale definition file"
# A locale folder the C library cannot load.
fake "$work/bad-locale" localedef 'mkdir -p "$5" && : >"$5/LC_CTYPE"'
run "PATH='$work/bad-locale':\$PATH; ensure_locales '$work/loc2'"
expect_failure "a locale that does not load is named" "locale en_US.UTF-8 in $work/loc2 does not load"

# --- the Wine template
wine_fakes() { # folder, wineboot body, reg query output
  fake "$1" wineboot "$2"
  fake "$1" wineserver 'exit 0'
  fake "$1" wine "case \$2 in query) printf '%s' '$3' ;; esac"
}
wine_fakes "$work/boot-fails" 'echo "could not load kernel32.dll" >&2; exit 5' ''
run "PATH='$work/boot-fails':\$PATH; ensure_wine_template '$work/t1/template'"
expect_failure "wineboot exit status is named" "wineboot -i failed (exit 5)"
[[ $out == *"could not load kernel32.dll"* ]] && ok "the boot log is shown" || bad "the boot log is shown" "no log"
[ ! -e "$work/t1/template/.norv-ready" ] && ok "a failed boot leaves no template" || bad "a failed boot leaves no template" "ready"

boots='mkdir -p "$WINEPREFIX/drive_c/windows/system32" && : >"$WINEPREFIX/drive_c/windows/system32/kernel32.dll"'
wine_fakes "$work/no-registry" "$boots" ''
run "PATH='$work/no-registry':\$PATH; ensure_wine_template '$work/t2/template'"
expect_failure "a prefix without its registry is refused" "the booted prefix does not read back its registry"
wine_fakes "$work/no-system" 'exit 0' ''
run "PATH='$work/no-system':\$PATH; ensure_wine_template '$work/t3/template'"
expect_failure "a prefix without system32 is refused" 'the booted prefix has no system32\kernel32.dll'

wine_fakes "$work/boots" "$boots" $'\r\nHKEY_CURRENT_USER\\Software\\Wine\\X11 Driver\r\n    Managed    REG_SZ    N\r\n'
run "PATH='$work/boots':\$PATH; ensure_wine_template '$work/t4/template'"
if [ "$rc" -eq 0 ] && [ -f "$work/t4/template/.norv-ready" ]; then ok "a usable prefix becomes the template"
else bad "a usable prefix becomes the template" "exit $rc"; fi
# One made by an earlier recipe is booted again.
echo 'recipe 1, wine-8.0' >"$work/t4/template/.norv-ready"
wine_fakes "$work/boots-seen" "$boots && : >'$work/t4/booted'" $'\r\n    Managed    REG_SZ    N\r\n'
run "PATH='$work/boots-seen':\$PATH; ensure_wine_template '$work/t4/template'"
if [ "$rc" -eq 0 ] && [ -e "$work/t4/booted" ]; then ok "a template of an earlier recipe is booted again"
else bad "a template of an earlier recipe is booted again" "exit $rc"; fi

# --- Xvfb
fake "$work/xvfb-dies" Xvfb 'echo "no screens found" >&2; exit 1'
run "PATH='$work/xvfb-dies':\$PATH; start_xvfb '$work/x1'"
expect_failure "an Xvfb that dies is named" "Xvfb exited (status 1) before it took a display"
[[ $out == *"no screens found"* ]] && ok "its log is shown" || bad "its log is shown" "no log"
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  run "start_xvfb '$work/x2'; xdotool getdisplaygeometry; kill \$NORV_XVFB_PID"
  if [ "$rc" -eq 0 ] && [ "$out" = "1280 1024" ]; then ok "the display Xvfb chose answers"
  else bad "the display Xvfb chose answers" "exit $rc"; fi
fi

# --- build folders
cache() { # folder, WINE_PROGRAM line or "", with Makefile (1) or not
  mkdir -p "$1"
  printf 'CMAKE_BUILD_TYPE:STRING=Release\n%s\n' "$2" >"$1/CMakeCache.txt"
  [ -z "${3:-}" ] || : >"$1/Makefile"
}
fake "$work/bin" wine 'exit 0'
cache "$work/b2" "WINE_PROGRAM:FILEPATH=$work/bin/wine"
cache "$work/b3" "WINE_PROGRAM:FILEPATH=WINE_PROGRAM-NOTFOUND" 1
cache "$work/b4" "WINE_PROGRAM:FILEPATH=" 1
cache "$work/b5" "WINE_PROGRAM:FILEPATH=$work/gone/wine" 1
cache "$work/b6" "WINE_PROGRAM:FILEPATH=$work/bin/wine" 1
for c in "b1|not configured" "b2|its last configure failed" "b3|configured without Wine" \
         "b4|configured without Wine" "b5|configured with a Wine that is gone ($work/gone/wine)" "b6|"; do
  run "configure_reason '$work/${c%%|*}'"
  if [ "$rc" -eq 0 ] && [ "$out" = "${c#*|}" ]; then ok "build folder ${c%%|*}: '${c#*|}'"
  else bad "build folder ${c%%|*}: '${c#*|}'" "exit $rc"; fi
done
fake "$work/cmake-log" cmake "echo \"\$*\" >>'$work/cmake.args'"
fake "$work/cmake-log" nproc 'echo 2'
run "PATH='$work/cmake-log':\$PATH; configure_and_build '$work/b3'"
if [ "$rc" -eq 0 ] && [[ $out == *"configuring $work/b3 again: configured without Wine"* ]] &&
   [ "$(cat "$work/cmake.args")" = "--preset mingw -S $src -B $work/b3 -U WINE_PROGRAM
--build $work/b3 -j 2" ]; then ok "a folder configured without Wine is configured again"
else bad "a folder configured without Wine is configured again" "exit $rc, cmake: $(cat "$work/cmake.args")"; fi
rm -f "$work/cmake.args"
run "PATH='$work/cmake-log':\$PATH; configure_and_build '$work/b6'"
if [ "$rc" -eq 0 ] && [ "$(cat "$work/cmake.args")" = "--build $work/b6 -j 2" ]; then ok "a sound folder is only built"
else bad "a sound folder is only built" "exit $rc, cmake: $(cat "$work/cmake.args")"; fi

# The toolchain refuses to configure tests with no Wine to run them.
if command -v cmake >/dev/null; then
  out=$(cmake -S "$src" -B "$work/nowine" --toolchain "$src/cmake/mingw-w64-x86_64.cmake" \
          -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_FIND_USE_SYSTEM_ENVIRONMENT_PATH=OFF 2>&1)
  rc=$?
  out=$(printf '%s' "$out" | tr -s ' \n' ' ')
  expect_failure "configure without Wine fails naming the package" \
    "(message): wine not found (Debian package wine)"
fi

# --- under load and a debug setting: the busy processes end, by PID; only
# the tested programs get the setting
run 'start_busy_load 2 2>/dev/null; pids="${NORV_LOAD_PIDS[*]}"; stop_busy_load
     for p in $pids; do kill -0 "$p" 2>/dev/null && echo "alive $p"; done; echo "${#NORV_LOAD_PIDS[@]} $pids"'
if [ "$rc" -eq 0 ] && [[ $out =~ ^0\ [0-9]+\ [0-9]+$ ]]; then ok "two busy processes, stopped by PID"
else bad "two busy processes, stopped by PID" "exit $rc"; fi
run 'unset NORV_WINEDEBUG; norv_wine_env; a=$WINEDEBUG; NORV_WINEDEBUG=warn+heap norv_wine_env
     echo "$a $WINEDEBUG $(declare -f template_wine | grep -c "WINEDEBUG=-all ")"'
if [ "$rc" -eq 0 ] && [ "$out" = "-all warn+heap 1" ]; then ok "NORV_WINEDEBUG reaches the tested programs, the template boot stays quiet"
else bad "NORV_WINEDEBUG reaches the tested programs, the template boot stays quiet" "exit $rc"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
