#!/usr/bin/env bash
# The shipped programs as built (BUILD_DIR): Windows' exploit mitigations in
# DllCharacteristics (ASLR with 64-bit entropy, DEP; terminal-server aware for
# the client), a build id in the debug directory, a time stamp made of its
# first four bytes, and a .gnu_debuglink whose CRC is that of the .debug file.
set -uo pipefail
build=${BUILD_DIR:?}
objdump=x86_64-w64-mingw32-objdump
failed=0
check() { # status of the condition (first, before any other expansion), name
  if [ "$1" -eq 0 ]; then echo "ok   $2"; else failed=1; echo "FAIL $2"; fi
}
# DYNAMIC_BASE 0x40, HIGH_ENTROPY_VA 0x20, NX_COMPAT 0x100, TERMINAL_SERVER_AWARE 0x8000
for entry in client/norvvpnui.exe:0x8160 uninstall-cleaner/uninstall-cleaner.exe:0x0160; do
  program=$build/${entry%:*} wanted=$((${entry#*:}))
  headers=$($objdump -p "$program" 2>&1) || { check 1 "$program: objdump -p"; continue; }
  name=$(basename "$program")
  flags=$((0x$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$headers")))
  [ $((flags & wanted)) -eq "$wanted" ]
  check $? "$name: DllCharacteristics $(printf 0x%04x "$flags") holds $(printf 0x%04x "$wanted")"

  id=$(sed -n 's/.*format RSDS signature \([0-9a-f]\{32\}\) age 1 .*/\1/p' <<<"$headers")
  [ -n "$id" ]
  check $? "$name: build id in a CodeView record ($id)"
  # objdump prints the stamp as a date: read it 8 bytes into the PE header.
  pe=$(od -An -tu4 -j 60 -N4 "$program" | tr -d ' ')
  stamp=$(od -An -tx4 -j $((pe + 8)) -N4 "$program" | tr -d ' ')
  [ -n "$id" ] && [ "$stamp" = "${id:0:8}" ] && [ "$stamp" != 00000000 ]
  check $? "$name: time stamp $stamp is the build id's first four bytes"

  link=$(x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$program" /dev/null 2>/dev/null |
         od -An -tx1 -v | tr -d ' \n')
  # gzip ends with the input's CRC-32, little-endian as in the link.
  crc=$(gzip -c "$program.debug" | tail -c 8 | head -c 4 | od -An -tx1 | tr -d ' \n')
  want=$(printf '%s' "$name.debug" | od -An -tx1 | tr -d ' \n')
  [[ $link == "$want"00*"$crc" ]]
  check $? "$name: .gnu_debuglink names $name.debug with its CRC"
done
exit $failed
