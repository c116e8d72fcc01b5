#!/usr/bin/env bash
# Reads a minidump of norvvpnui.exe (or uninstall-cleaner.exe) on Debian: the
# crashing thread's stack first, then the others', with our functions and
# source lines from the .debug files.
#   scripts/read-crash.sh DUMP [SYMBOLS]
# SYMBOLS: the symbols folder scripts/package.sh wrote beside the release
# (default BUILD_DIR/packages/symbols), or a folder holding the program and
# its .debug file. Installs lldb-19 from Debian when missing: it opens Windows
# minidumps, unwinds our frames with the program's own unwind tables, and
# reads our DWARF through the program's .gnu_debuglink.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
[ $# -ge 1 ] && [ $# -le 2 ] || die "usage: $0 DUMP [SYMBOLS]"
dump=$1
symbols=${2:-${BUILD_DIR:-$NORV_ROOT/build}/packages/symbols}
[ -f "$dump" ] || die "no dump file $dump"
[ "$(head -c 4 "$dump")" = MDMP ] || die "$dump is not a minidump (it does not start with MDMP)"
[ -d "$symbols" ] || die "no symbols folder $symbols (scripts/package.sh writes one beside each package)"
ensure_packages lldb-19
command -v lldb-19 >/dev/null || die "lldb-19 is not on PATH after installing it"

status=$(mktemp)
trap 'rm -f "$status"' EXIT
rc=0
# lldb's Python ends lldb with status 1 on its own errors; only a status file
# says the script ran to its end. lldb 19 complains about the DWARF 5 range
# lists in the mingw runtime's own debug information: that noise goes.
NORV_CRASH_DUMP=$(realpath "$dump") NORV_CRASH_SYMBOLS=$(realpath "$symbols") NORV_CRASH_STATUS=$status \
  lldb-19 --batch --no-lldbinit --source-quietly \
  -o "command script import $NORV_ROOT/scripts/read_crash.py" \
  2> >(sed '/range extraction failed/d' >&2) || rc=$?
[ "$rc" -eq 0 ] && [ "$(cat "$status")" = ok ] || die "lldb-19 could not read $dump (exit $rc)"
