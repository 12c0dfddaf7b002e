#!/usr/bin/env bash
# Checks that the Windows exe is a GUI program that needs no DLL beside it:
# it may import only DLLs that every Windows has.
set -euo pipefail
exe=${1:?usage: check-exe.sh quorin.exe}
allowed='^(KERNEL32|USER32|GDI32|msvcrt)\.dll$'

dump=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -qE 'Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$dump" || { echo "not a GUI-subsystem exe"; exit 1; }
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
echo "$exe: $(stat -c %s "$exe") bytes; imports: $(echo $imports)"
bad=$(grep -Eiv "$allowed" <<<"$imports" || true)
[[ -z $bad ]] || { echo "unexpected imports: $bad"; exit 1; }
