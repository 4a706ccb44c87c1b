#!/usr/bin/env bash
# vorx.exe under Wine: a/l/t/x round trip with names outside ASCII, options after the
# paths, the overwrite rule, names no extraction may write (tests/tool/hostile_names.txt),
# names an earlier entry had, a planted folder link, and the exit codes. Files are made
# and compared on the Linux side; Wine shows them to the program as Z:\...
#
#   vorx_exe_wine.sh VORX_EXE WINE_RUN CRAFT_ARCHIVE HOSTILE_NAMES
# Exits with 77 (skipped) when WINE_RUN does: this machine cannot run the program.
set -u
export LC_ALL=C.UTF-8
vorx_exe=$(realpath "$1")
wine_run=$(realpath "$2")
craft=$(realpath "$3")
hostile_names=$(realpath "$4")
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
# What the program printed is all its own: no other process (a Wine service started
# along with it when it was the Wine server's first program) holds its output open.
for p in /proc/[0-9]*; do ls -l "$p/fd" 2>/dev/null; done | grep -qF -- "$work/err.txt" &&
  fail "another process writes to vorx.exe's error output"
# The name is stored in code page 1252: e-acute is the one byte E9.
grep -qa "caf$(printf '\xe9').txt" out.vx || fail "the archive does not hold the 1252 name"

# Every core: the same archive on two threads as on one. Patterns choose entries; one that
# matches nothing is reported (exit 1). A failure names the system's reason.
run 0 a j1.vx src -m5 -j 1
run 0 a j2.vx src -m5 -j 2
cmp -s j1.vx j2.vx || fail "vorx a -j 2 wrote other bytes than -j 1"
run 1 l out.vx 'SRC/SUB' nomatch
contains out.txt "2 entries"
contains err.txt "no entry matches 'nomatch'"
echo x > f
run 2 a f/o.vx src
grep -q "cannot create a file beside 'f/o.vx': [A-Za-z]" err.txt || fail "no reason in: $(cat err.txt)"

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

# Names that differ only in case are one file on Windows: `a` refuses to store both; in
# an archive from elsewhere the later entry is refused (exit 2), never written over the
# earlier one's file or asked about as if it were another file.
hex() { printf '%s' "$1" | od -v -An -tx1 | tr -d ' \n'; }
mkdir -p cases
echo upper > cases/Name.txt
echo lower > cases/name.txt
run 2 a cases.vx cases
contains err.txt "Windows takes it for the same file as"
[ -e cases.vx ] && fail "an archive was written with two names of one file"
"$wine_run" "$craft" cases.vx "$(hex 'cases\Name.txt')" "$(hex 'cases\name.txt')" || fail "cannot craft"
run 2 x cases.vx -o cased
contains out.txt "1 file extracted, 1 failed"
contains err.txt "refused 'cases\name.txt': an earlier entry has this name"
[ "$(ls cased/cases | wc -l)" = 1 ] || fail "case variants gave more than one file"
[ "$(cat cased/cases/*)" = "$(hex 'cases\Name.txt')" ] || fail "the later of two case variants replaced the first"

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

# A name outside the archive's code page is refused, and nothing is written; the program
# itself reads it whatever its ANSI code page (1252 here).
mkdir -p wide
echo x > "wide/$(printf '\xe6\x97\xa5\xe6\x9c\xac').txt"
run 2 a wide.vx wide
contains err.txt "code page 1252 cannot hold"
[ -e wide.vx ] && fail "an archive was written although a name was refused"
run 0 a wide.vx wide --codepage 65001
run 0 x wide.vx -o wideout --codepage 65001
diff -r wide wideout/wide > diff.txt || { fail "a name outside the ANSI code page did not round-trip"; cat diff.txt >&2; }
# The new archive itself may lie in a folder whose name the ANSI code page cannot hold.
wide_folder="$(printf '\xe6\x97\xa5')"
mkdir -p "$wide_folder"
run 0 a "$wide_folder/in.vx" src
run 0 t "$wide_folder/in.vx"

# Names no extraction may write: each is refused with its reason (exit 2) and nothing
# outside the destination appears or changes; control bytes and bytes code page 1252
# leaves undefined are never printed raw. The last name is "..\..\evil.txt" in EBCDIC,
# whose code page is refused before anything is written.
snapshot() {  # every file outside box/dest* with its checksum, and every path
  find . -path './box/dest*' -prune -o ! -name out.txt ! -name err.txt -type f -print0 |
    sort -z | xargs -0 -r sha1sum
  find . -path './box/dest*' -prune -o -print | sort
}
mkdir -p box
echo kept > box/evil.txt
hostile=() reasons=()
while IFS=$'\t' read -r name reason; do
  hostile+=("$(printf '%b' "$name" | od -v -An -tx1 | tr -d ' \n')") reasons+=("$reason")
done < <(grep -v '^#' "$hostile_names")
"$wine_run" "$craft" box/hostile.vx "${hostile[@]}" "$(hex good.txt)" 4b4be04b4be085a589934ba3a7a3 || fail "cannot craft the archive"
before=$(snapshot)
run 2 x box/hostile.vx -o box/dest
for reason in "${reasons[@]}"; do contains err.txt "$reason"; done
contains err.txt "refused 'esc\x1B[2J.txt': the name has a control character"
contains err.txt "refused 'undefined\x81.txt': it has bytes that code page 1252 does not define"
LC_ALL=C grep -q "$(printf '[\033\201\235]')" err.txt out.txt && fail "a control or undefined byte was printed raw"
contains out.txt "2 files extracted, ${#hostile[@]} failed"
[ "$(cat box/dest/good.txt)" = "$(hex good.txt)" ] || fail "the good entry was not written"
[ "$(find box/dest -type f | wc -l)" = 2 ] || fail "box/dest holds other files than two entries"
[ "$(snapshot)" = "$before" ] || fail "a file outside the destination appeared or changed"
run 0 l box/hostile.vx
LC_ALL=C grep -q "$(printf '[\033\201\235]')" out.txt && fail "l printed a control or undefined byte raw"
run 2 x box/hostile.vx -o box/dest500 --codepage 500
contains err.txt "code page 500 cannot be used for names"
[ -e box/dest500 ] && fail "a refused code page still made the destination"
[ "$(snapshot)" = "$before" ] || fail "a file outside the destination appeared or changed"

# A folder link planted below the output folder (a Linux link, which Wine opens as the
# folder it points to without telling it is a link) is refused and never written through.
mkdir -p planted/out planted/outside
ln -s ../outside planted/out/sub
"$wine_run" "$craft" planted.vx "$(hex 'sub\x.txt')" "$(hex 'y.txt')" || fail "cannot craft"
run 2 x planted.vx -o planted/out
contains err.txt "refused 'sub\x.txt': 'planted/out\sub' is a link"
[ -z "$(ls -A planted/outside)" ] || fail "a file was written through a planted folder link"
[ -f planted/out/y.txt ] || fail "the entry beside the link was not written"

# Links below the output folder: a link or a second (hard) link at a file's name is
# replaced, never written through, for a file written from memory and for one decoded
# straight into its file; links planted under the names temporary files once had
# (.vorx-PID.part, for every likely process id) are not used; a write that fails (here
# at a file-size limit) keeps the old file and leaves no temporary.
mkdir -p lk/src lk/outside lk/out
echo "new text" > lk/src/file.txt
echo "new hard" > lk/src/hard.txt
head -c 5000000 /dev/urandom > lk/src/big.bin
for i in $(seq 1 30000); do echo "line $i of a text"; done > lk/src/mid.txt
run 0 a lk.vx lk/src/file.txt lk/src/hard.txt lk/src/big.bin lk/src/mid.txt
echo outside > lk/outside/victim.txt
echo hard > lk/outside/hard.txt
ln -s ../outside/victim.txt lk/out/file.txt
ln -s ../outside/victim.txt lk/out/big.bin
ln lk/outside/hard.txt lk/out/hard.txt
for p in $(seq 4 4 8192); do ln -s ../outside/victim.txt "lk/out/.vorx-$p.part"; done
run 0 x -y lk.vx -o lk/out
[ "$(cat lk/outside/victim.txt)" = outside ] || fail "a file outside the output folder was written through a link"
[ "$(cat lk/outside/hard.txt)" = hard ] || fail "a file outside the output folder was written through a hard link"
[ "$(ls lk/outside | tr '\n' ' ')" = "hard.txt victim.txt " ] || fail "a file was created outside the output folder"
for f in file.txt hard.txt big.bin mid.txt; do
  { [ -f "lk/out/$f" ] && [ ! -L "lk/out/$f" ] && cmp -s "lk/src/$f" "lk/out/$f"; } || fail "lk/out/$f was not replaced by the entry"
done
echo old > lk/out/big.bin
echo old > lk/out/mid.txt
# 128 blocks of 1024 bytes: both entries are larger.
(trap '' XFSZ; ulimit -f 128; exec "$wine_run" "$vorx_exe" x -y lk.vx -o lk/out > out.txt 2> err.txt < /dev/null)
[ $? -eq 2 ] || fail "a failed overwrite did not exit with 2"
contains err.txt "cannot extract 'big.bin'"
contains err.txt "cannot write 'lk/out\\mid.txt'"
[ "$(cat lk/out/big.bin lk/out/mid.txt)" = "$(printf 'old\nold')" ] || fail "a failed overwrite lost the old file"
[ -z "$(find lk/out -name '.vorx-*' ! -type l)" ] || fail "a temporary file was left behind"

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
