#!/bin/bash
# Checks a built self-extractor stub as a file, read with its toolchain's binutils: the
# machine, a GUI program, the exports by name and ordinal, the imported DLLs, the
# configuration section as shipped, and the resources (dialog templates, header picture,
# icons, version, manifest) against the table in stub_image.expected.
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
    # Resources, with each binary one summed up as its length and first four words, and
    # of the manifest only the lines that matter.
    "$windres" -i "$stub" -O rc | awk '
        NF == 0 { next }
        /^  0x/ { for (i = 1; i <= NF; i++) if ($i ~ /^0x/ && ++n <= 4) first = first " " $i; next }
        /^END/ && n { print "  " n " words:" first; n = 0; first = "" }
        /^  "/ && !/asInvoker|Common-Controls/ { next }
        { print }'
}

diff -u <(sed -e "s/@VERSION@/$version/g" -e "s/@VERSION_WORDS@/${version//./, }, 0/g" "$expected") \
        <(summary) || fail "differs from $expected (- expected, + found)"
echo "$stub: as expected"
