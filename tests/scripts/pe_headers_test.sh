#!/usr/bin/env bash
# The shipped programs as built (BUILD_DIR): Windows' mitigations in
# DllCharacteristics (DYNAMIC_BASE 0x40, HIGH_ENTROPY_VA 0x20, NX_COMPAT
# 0x100; TERMINAL_SERVER_AWARE 0x8000 for the client), a build id in a
# CodeView record, a time stamp made of the build id's first four bytes, and
# a .gnu_debuglink with the final .debug file's CRC (addr2line checks it).
set -uo pipefail
failed=0
for entry in client/norvvpnui.exe:0x8160 uninstall-cleaner/uninstall-cleaner.exe:0x0160; do
  program=${BUILD_DIR:?}/${entry%:*} wanted=$((${entry#*:}))
  headers=$(x86_64-w64-mingw32-objdump -p "$program") || { echo "FAIL objdump -p $program"; failed=1; continue; }
  flags=$((0x$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$headers")))
  id=$(sed -n 's/.*format RSDS signature \([0-9a-f]\{32\}\) age 1 .*/\1/p' <<<"$headers")
  pe=$(od -An -tu4 -j 60 -N4 "$program" | tr -d ' ')
  stamp=$(od -An -tx4 -j $((pe + 8)) -N4 "$program" | tr -d ' ')
  # gzip ends with its input's CRC-32, little-endian as in the link.
  crc=$(gzip -c "$program.debug" | tail -c 8 | head -c 4 | od -An -tx1 | tr -d ' \n')
  link=$(x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$program" /dev/null 2>/dev/null | od -An -tx1 -v |
         tr -d ' \n')
  result="$(basename "$program"): DllCharacteristics $(printf 0x%04x "$flags"), build id '$id', time stamp $stamp,"
  result+=" debug link ${link: -8} for a .debug with CRC $crc"
  if [ $((flags & wanted)) -eq "$wanted" ] && [ -n "$id" ] && [ "$stamp" = "${id:0:8}" ] && [ "${link: -8}" = "$crc" ]; then
    echo "ok   $result"
  else
    echo "FAIL $result (wanted: flags $(printf 0x%04x "$wanted"), the id's first 8 digits as stamp, the CRC in the link)"
    failed=1
  fi
done
exit $failed
