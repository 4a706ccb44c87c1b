#!/bin/bash
# Checks a built self-extractor stub as a file, read with its toolchain's binutils: a GUI
# program of its machine, no larger than MAX_BYTES; imports from DLLs every Windows has
# (no runtime DLL of the toolchain beside it); the archive library's operations that
# HEADER declares exported by name, in alphabetical order from ordinal 1; a writable
# configuration section of at least 512 bytes with a default destination and no command to
# run; the resources (dialogs, icon, version, manifest) by the rules of stub_resources.py.
#   stub_image.sh OBJDUMP WINDRES STUB FORMAT VERSION HEADER [MAX_BYTES]
# Exits with 77 (skipped) when STUB has not been built.
set -euo pipefail
objdump=$1 windres=$2 stub=$3 format=$4 version=$5 header=$6 max=${7:-}
[ -f "$stub" ] || { echo "[  SKIPPED ] not built: $stub"; exit 77; }
fail() { echo "FAIL: $stub: $*"; exit 1; }

headers=$("$objdump" -p "$stub")
grep -q "file format $format\$" <<<"$headers" || fail "not a $format image"
grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a Windows GUI program"
[ -z "$max" ] || [ "$(stat -c %s "$stub")" -le "$max" ] || fail "$(stat -c %s "$stub") bytes, more than $max"
others=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr A-Z a-z |
  grep -vxE '(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|advapi32|msvcrt|ntdll)\.dll' || true)
[ -z "$others" ] || fail "imports from DLLs not every Windows has: $others"
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *\([0-9]*\)\] \(.*\)/\1 \2/p' <<<"$headers")
declared=$(grep -o 'VORX_CALL vorx_[A-Za-z]*' "$header" | cut -d' ' -f2 | sort -u | nl -v0 -w1 -s' ')
[ -n "$declared" ] && [ "$exports" = "$declared" ] || fail "exports by name: $exports; declared: $declared"
grep -q '^Ordinal Base.*\b1$' <<<"$headers" || fail "ordinals do not start at 1"

section=$("$objdump" -h "$stub" | grep -A1 ' \.sfxcfg ') || fail "no .sfxcfg section"
read -r _ _ size _ _ offset _ <<<"$section"
[ $((16#$size)) -ge 512 ] && grep -q 'CONTENTS, ALLOC, LOAD, DATA$' <<<"$section" ||
  fail ".sfxcfg: 0x$size bytes, $(tail -1 <<<"$section")"
[ -n "$(tail -c +$((16#$offset + 1)) "$stub" | head -c 256 | tr -d '\0')" ] || fail "no default destination"
[ "$(tail -c +$((16#$offset + 257)) "$stub" | head -c 1 | od -An -tu1 | tr -d ' ')" = 0 ] || fail "a command to run"
"$windres" -i "$stub" -O rc | python3 "$(dirname "$0")/stub_resources.py" "$version" ||
  fail "resources break the rules above"
echo "$stub: as expected"
