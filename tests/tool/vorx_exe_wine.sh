#!/usr/bin/env bash
# vorx.exe under Wine: a/l/t/x round trip with names outside ASCII, options after the
# paths, the overwrite rule and the exit codes. Files are made and compared on the
# Linux side; Wine shows them to the program as Z:\...
#
#   vorx_exe_wine.sh VORX_EXE WINE_RUN
# Exits with 77 (skipped) when WINE_RUN does: this machine cannot run the program.
set -u
export LC_ALL=C.UTF-8
vorx_exe=$(realpath "$1")
wine_run=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# run EXPECTED-CODE ARGS...: runs vorx.exe, keeps its output in out.txt and err.txt.
run() {
  local expected=$1
  shift
  "$wine_run" "$vorx_exe" "$@" > out.txt 2> err.txt < /dev/null
  local code=$?
  if [ "$code" -eq 77 ]; then
    cat err.txt >&2
    exit 77
  fi
  if [ "$code" -ne "$expected" ]; then
    fail "vorx $* exited with $code, expected $expected"
    sed 's/^/  | /' out.txt err.txt >&2
  fi
}

contains() {  # contains FILE TEXT
  grep -qF -- "$2" "$1" || { fail "$1 lacks '$2'"; sed 's/^/  | /' "$1" >&2; }
}

mkdir -p src/sub/deeper
printf 'hello\r\nfrom the tool\r\n' > src/readme.txt
: > src/empty.bin
for i in $(seq 1 3000); do echo "line $i of a text that repeats itself"; done > src/sub/big.txt
head -c 300000 /dev/urandom > src/sub/deeper/noise.dat
printf 'caf\xc3\xa9 au lait' > "src/caf$(printf '\xc3\xa9').txt"
touch -d @1500000000 src/readme.txt

run 0 a out.vx src -m9
contains out.txt "5 files"
# The name is stored in code page 1252: e-acute is the one byte E9.
grep -qa "caf$(printf '\xe9').txt" out.vx || fail "the archive does not hold the 1252 name"

run 0 l out.vx
contains out.txt 'src\sub\deeper\noise.dat'
contains out.txt "2017-07-14 02:40:00"
run 0 l out.vx --json
contains out.txt '"count":5'
run 0 t out.vx
contains out.txt "5 entries tested, 0 failed"

run 0 x out.vx -o dest
diff -r src dest/src > diff.txt || { fail "extracted tree differs"; cat diff.txt >&2; }
[ "$(stat -c %Y dest/src/readme.txt)" = 1500000000 ] || fail "last-write time not restored"

# An existing file is kept without -y (exit 1) and replaced with it.
printf 'changed' > dest/src/readme.txt
run 1 x out.vx -o dest
contains err.txt "exists (use -y to replace)"
[ "$(cat dest/src/readme.txt)" = changed ] || fail "a file was replaced without -y"
run 0 x -y out.vx -o dest
cmp -s src/readme.txt dest/src/readme.txt || fail "-y did not replace the file"

# Names that differ only in case are one file on Windows: the later entry replaces the
# earlier one without a question or a failure.
mkdir -p cases
echo upper > cases/Name.txt
echo lower > cases/name.txt
run 0 a cases.vx cases
run 0 x cases.vx -o cased
contains out.txt "2 files extracted"
[ "$(ls cased/cases | wc -l)" = 1 ] || fail "case variants gave more than one file"
[ "$(cat cased/cases/*)" = lower ] || fail "the later of two case variants did not win"

# Encrypted data and names; the password is needed for all of it.
run 0 a secret.vx src/sub -p "a long password" --encrypt-names
run 2 l secret.vx
run 0 x secret.vx -p "a long password" -o opened
diff -r src/sub opened/sub > diff.txt || { fail "encrypted round trip differs"; cat diff.txt >&2; }

# Damage inside the block is found by t and x (exit 2), and x leaves no file.
run 0 a damaged.vx src/sub/big.txt
printf '\x55\x55\x55\x55' | dd of=damaged.vx bs=1 seek=200 conv=notrunc status=none
run 2 t damaged.vx
contains out.txt "FAILED  big.txt"
run 2 x damaged.vx -o broken
[ -e broken/big.txt ] && fail "a damaged entry left a file"

# A name outside the program's ANSI code page cannot be opened by it: refused, and
# nothing is written.
mkdir -p wide
echo x > "wide/$(printf '\xe6\x97\xa5\xe6\x9c\xac').txt"
run 2 a wide.vx wide
contains err.txt "outside the system's ANSI code page"
[ -e wide.vx ] && fail "an archive was written although a name was refused"

# Command-line errors exit 7; a missing archive is fatal (2).
run 7 x out.vx --bogus
contains err.txt "unknown option '--bogus'"
run 7 a short.vx src -p short
run 2 l missing.vx
contains err.txt "cannot find the archive"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "vorx.exe under Wine: all checks passed"
