#!/usr/bin/env bash
# scripts/read-crash.sh on the dumps minidump_test.cpp wrote, with the test
# package's symbols folder: the running client's UI thread shows the message
# loop in WinMain; the faulting client's thread comes first and shows
# PickToolMode in its source file. Then its failures, each named.
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
read_crash=$root/scripts/read-crash.sh
dumps=${NORV_CRASH_DUMPS:?} symbols=${NORV_SYMBOLS:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # status of the condition (first, before any other expansion), name, output
  if [ "$1" -eq 0 ]; then echo "ok   $2"; else failed=1; printf 'FAIL %s\n%s\n' "$2" "$3" | sed '3,$s/^/     | /'; fi
}
# The lines of one thread's block: from its heading to the blank line.
thread_block() { awk -v h="Thread $2" 'index($0, h) == 1 { on = 1 } on && $0 == "" { exit } on' <<<"$1"; }

out=$("$read_crash" "$dumps/running.mdmp" "$symbols" 2>&1); rc=$?
loop_line=$(grep -n 'while (GetMessageW' "$root/client/shell/main.cpp" | cut -d: -f1)
block=$(thread_block "$out" "$(cat "$dumps/running.mdmp.thread")")
[ "$rc" -eq 0 ] && grep -Eq "norvvpnui\.exe +::WinMain\(.*\)  client/shell/main\.cpp:$loop_line\$" <<<"$block"
check $? "running client: WinMain at client/shell/main.cpp:$loop_line on the UI thread" "$out"
echo "$out" >"$work/running.txt"

out=$("$read_crash" "$dumps/fault.mdmp" "$symbols" 2>&1); rc=$?
first=$(grep -m1 '^Thread ' <<<"$out")
frame=$(grep -m1 '^  #0 ' <<<"$out")
at=$(awk '{print $2}' <<<"$frame")
[ "$rc" -eq 0 ] && [ "$first" = "Thread $(cat "$dumps/fault.mdmp.thread"): Exception 0xc0000005 encountered at address $(printf 0x%x "$at")" ] &&
  grep -Eq "norvvpnui\.exe +.*PickToolMode\(int, wchar_t\*\*\).*  client/shell/tool_modes\.cpp:[0-9]+\$" <<<"$frame"
check $? "faulting client: its thread first, PickToolMode in client/shell/tool_modes.cpp on top" "$out"

# Symbols of another build: named as missing, never used.
mkdir -p "$work/other/norvvpnui.exe/0123ABCD1000"
out=$("$read_crash" "$dumps/fault.mdmp" "$work/other" 2>&1); rc=$?
[ "$rc" -eq 0 ] && grep -q "^No symbols for norvvpnui.exe (key [0-9A-F]\{8\}[0-9a-f]*) in $work/other\$" <<<"$out" &&
  ! grep -q PickToolMode <<<"$out"
check $? "symbols of another build: named missing" "$out"

printf 'MDMP' >"$work/short.mdmp"
out=$("$read_crash" "$work/short.mdmp" "$symbols" 2>&1); rc=$?
[ "$rc" -ne 0 ] && grep -q "== FAILED: lldb-19 could not read $work/short.mdmp" <<<"$out"
check $? "a dump lldb cannot read: named, non-zero" "$out"
out=$("$read_crash" "$work/none.mdmp" "$symbols" 2>&1); rc=$?
[ "$rc" -ne 0 ] && [ "$out" = "== FAILED: no dump file $work/none.mdmp" ]
check $? "no dump file: named, non-zero" "$out"
out=$("$read_crash" "$dumps/fault.mdmp" "$work/none" 2>&1); rc=$?
[ "$rc" -ne 0 ] && grep -q "^== FAILED: no symbols folder $work/none " <<<"$out"
check $? "no symbols folder: named, non-zero" "$out"
exit $failed
