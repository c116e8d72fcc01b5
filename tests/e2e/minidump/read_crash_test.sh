#!/usr/bin/env bash
# scripts/read-crash.sh on the dumps minidump_test.cpp left, with the test
# package's symbols: the running client shows its message loop in WinMain; in
# the client's own dumps the faulting thread comes first, with PickToolMode on
# top for a fault in our code, and the UI thread still shows WinMain for a
# thread that faulted in the system; symbols of another build and a missing
# dump are named.
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
dumps=${NORV_CRASH_DUMPS:?} symbols=${NORV_SYMBOLS:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # status of the condition (taken before the other arguments), name, output
  if [ "$1" -eq 0 ]; then echo "ok   $2"; else failed=1; printf 'FAIL %s\n%s\n' "$2" "$3" | sed '2,$s/^/     | /'; fi
}

loop=$(grep -n 'while (GetMessageW' "$root/client/shell/main.cpp" | cut -d: -f1)
out=$("$root/scripts/read-crash.sh" "$dumps/running.mdmp" "$symbols" 2>&1)
[ $? -eq 0 ] && grep -Eq "^ .* norvvpnui\.exe +::WinMain\(.*\)  client/shell/main\.cpp:$loop\$" <<<"$out"
check $? "running client: WinMain at client/shell/main.cpp:$loop" "$out"

out=$("$root/scripts/read-crash.sh" "$dumps/remote-fault.mdmp" "$symbols" 2>&1)
[ $? -eq 0 ] && grep -m1 '^Thread ' <<<"$out" | grep -q ': Exception 0xc0000005 ' &&
  awk '/^Thread / { n++ } n > 1 && / norvvpnui\.exe +::WinMain\(/' <<<"$out" | grep -q "client/shell/main\.cpp:$loop\$"
check $? "client's own dump of a faulting thread: that thread first, WinMain on the UI thread" "$out"

out=$("$root/scripts/read-crash.sh" "$dumps/fault.mdmp" "$symbols" 2>&1)
rc=$? top=$(grep -A1 -m1 '^Thread ' <<<"$out" | tr -s ' ' | tr '\n' '|')
re='^Thread 0x[0-9a-f]+: Exception 0xc0000005 encountered at address (0x[0-9a-f]+)\| #0 (0x[0-9a-f]+) norvvpnui\.exe .*'
re+='PickToolMode\(int, wchar_t\*\*\).* client/shell/tool_modes\.cpp:[0-9]+\|$'
[ $rc -eq 0 ] && [[ $top =~ $re ]] && [ $((BASH_REMATCH[1])) -eq $((BASH_REMATCH[2])) ]
check $? "client's own dump of a fault in our code: its thread first, PickToolMode in client/shell/tool_modes.cpp on top" "$out"

mkdir -p "$work/other/norvvpnui.exe/0123ABCD1000"
out=$("$root/scripts/read-crash.sh" "$dumps/fault.mdmp" "$work/other" 2>&1)
[ $? -eq 0 ] && grep -q "^No symbols for norvvpnui.exe (key [0-9A-F]\{8\}[0-9a-f]*) in $work/other\$" <<<"$out" &&
  ! grep -q PickToolMode <<<"$out"
check $? "symbols of another build: named missing, not used" "$out"
out=$("$root/scripts/read-crash.sh" "$work/none.mdmp" "$symbols" 2>&1)
[ $? -ne 0 ] && [ "$out" = "== FAILED: no dump file $work/none.mdmp" ]
check $? "no dump file: named, non-zero" "$out"
exit $failed
