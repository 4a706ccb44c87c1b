#!/bin/bash
# Checks a built self-extractor stub as a file, read with its toolchain's binutils: the
# machine, a GUI program, the exports by name and ordinal, the imported DLLs, the
# configuration section as shipped against the table in stub_image.expected; the
# resources (dialog templates, icon, version, manifest) by the rules of stub_resources.py.
#   stub_image.sh OBJDUMP WINDRES STUB FORMAT VERSION EXPECTED [MAX_BYTES]
# Exits with 77 (skipped) when STUB has not been built.
set -euo pipefail
objdump=$1 windres=$2 stub=$3 format=$4 version=$5 expected=$6 max=${7:-}
[ -f "$stub" ] || { echo "[  SKIPPED ] not built: $stub"; exit 77; }
fail() { echo "FAIL: $stub: $*"; exit 1; }

headers=$("$objdump" -p "$stub")
grep -q "file format $format\$" <<<"$headers" || fail "not a $format image"
size=$(stat -c %s "$stub")
[ -z "$max" ] || [ "$size" -le "$max" ] || fail "$size bytes, more than $max"

summary() {
    grep '^Subsystem' <<<"$headers"
    echo "imports: $(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr A-Z a-z | sort | xargs)"
    sed -n -e 's/^Name .* /exports of /p' -e '/^Ordinal Base/p' \
        -e '/^\[Ordinal\/Name Pointer\] Table/,/^$/{/^$/d;p}' <<<"$headers"
    # The configuration section: writable initialized data of at least 512 bytes that
    # holds the default destination and no command to run.
    local section size offset
    section=$("$objdump" -h "$stub" | grep -A1 ' \.sfxcfg ') || fail "no .sfxcfg section"
    read -r _ _ size _ _ offset _ <<<"$section"
    echo ".sfxcfg:$(tail -1 <<<"$section" | tr -s ' ')$( ((16#$size >= 512)) || echo ' SMALLER THAN 512')"
    echo "destination: $(tail -c +$((16#$offset + 1)) "$stub" | head -c 256 | tr -d '\0')"
    echo "run command byte:$(tail -c +$((16#$offset + 257)) "$stub" | head -c 1 | od -An -tu1)"
}

diff -u "$expected" <(summary) || fail "differs from $expected (- expected, + found)"
"$windres" -i "$stub" -O rc | python3 "$(dirname "$0")/stub_resources.py" "$version" ||
    fail "resources break the rules above"
echo "$stub: as expected"
