#!/usr/bin/env bash
# The self-extractor (and, in code page 932, vorx.exe) under Wine, run without windows
# (/q /s) and judged from the Linux side, in the ANSI code page of the locale it runs in:
#   1252: names no extraction may write (tests/tool/hostile_names.txt) stop it with code
#         3 and nothing outside the destination; an entry that lands on an earlier
#         entry's file (letter case ignored) stops it with code 3 and keeps the first; a
#         239-byte name is written; a planted folder link stops it (15); and while another
#         process swaps a folder of the destination with a link to outside, again and
#         again, no file ever appears outside the destination.
#   932:  a destination ending in a character whose trail byte is 0x5C (ソ), an entry
#         dir表\inner.txt, and a run command naming ヂ.exe when ア.exe was extracted
#         (their bytes differ in one ASCII letter bit) and a ヂ.exe is planted; vorx.exe
#         extracts the same names there and lists them as UTF-8 JSON.
# The ja_JP locale is generated into LOCALES; without localedef the run is skipped (77).
#   stub_wine.sh STUB WINE_RUN CRAFT_ARCHIVE MARKER VORX_EXE HOSTILE_NAMES CODEPAGE LOCALES
set -u
stub=$(realpath "$1") wine_run=$(realpath "$2") craft=$(realpath "$3") marker=$(realpath "$4")
vorx_exe=$(realpath "$5") names=$(realpath "$6") codepage=$7 locales=$(realpath -m "$8")
export LC_ALL=C.UTF-8
locale=()  # Wine takes the ANSI code page from the locale it starts in
if [ "$codepage" = 932 ]; then
  if [ ! -d "$locales/ja_JP.UTF-8" ]; then
    command -v localedef >/dev/null || { echo "[  SKIPPED ] no localedef for the ja_JP locale"; exit 77; }
    mkdir -p "$locales" && localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" ||
      { echo "[  SKIPPED ] localedef cannot make ja_JP.UTF-8"; exit 77; }
  fi
  locale=(LOCPATH="$locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
fi
win() { env "${locale[@]}" "$wine_run" "$@"; }
work=$(mktemp -d)
trap 'cd / && rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
hex() { printf '%b' "$1" | od -v -An -tx1 | tr -d ' \n'; }  # printf escapes, as the table has them
# make NAME FOLDER [--run HEX] ENTRY...: a fresh out/ and the self-extractor NAME.exe,
# which extracts into FOLDER below here (its path in the ANSI code page's bytes).
make() {
  local name=$1 folder
  folder=$(printf 'Z:%s/%s' "$PWD" "$2" | tr / '\\' | iconv -f UTF-8 -t "CP$codepage" | od -v -An -tx1 | tr -d ' \n')
  shift 2
  rm -rf out && mkdir -p out
  win "$craft" --sfx "$stub" --dest "$folder" "${@:1:2}" "$name.exe" "${@:3}" 2>&1 || fail "cannot make $name"
}
# run NAME CODE...: runs NAME.exe; its exit code (in $code) must be one of CODE.
run() {
  local name=$1
  shift
  win "$name.exe" /q /s </dev/null >/dev/null 2>&1
  code=$?
  [ "$code" -eq 77 ] && exit 77
  [[ " $* " == *" $code "* ]] || fail "$name exited with $code, expected $*"
}
files() { find out -type f | sort | tr '\n' ' '; }

if [ "$codepage" = 1252 ]; then
  # One self-extractor per name: the entry before it is written, the name stops the run.
  while IFS=$'\t' read -r name reason; do
    make one out/dest --run "" "$(hex good.txt)" "$(hex "$name")"
    run one 3
    [ "$(files)" = "out/dest/good.txt " ] || fail "'$name' ($reason) gave: $(files)"
  done < <(grep -v '^#' "$names")

  # A later entry of an earlier one's name stops the run; a 239-byte name is written.
  long=$(printf 'n%.0s' $(seq 237))  # d\ and 237 letters: 239 bytes
  make twins out/dest --run "" "$(hex "d\\\\$long")" "$(hex 'd\\Same.txt')" "$(hex 'D\\same.TXT')" "$(hex after.txt)"
  run twins 3
  [ "$(cat out/dest/d/Same.txt)" = "$(hex 'd\\Same.txt')" ] || fail "the later twin replaced the first"
  [ "$(files)" = "out/dest/d/Same.txt out/dest/d/$long " ] || fail "twins gave: $(files)"

  # A folder link planted in the destination stops the run before anything goes through it.
  make planted out/dest --run "" "$(hex 'sub\\x.txt')"
  mkdir -p out/dest out/elsewhere && ln -s ../elsewhere out/dest/sub
  run planted 15
  [ -z "$(ls -A out/elsewhere)" ] || fail "a file was written through a planted folder link"

  # The race: 60 files below dest\sub while sub and a link to outside trade places.
  entries=()
  for i in $(seq 60); do entries+=("$(hex "sub\\\\f$i.txt")"); done
  make race out/dest --run "" "${entries[@]}"
  for round in $(seq 16); do
    rm -rf out && mkdir -p out/dest/sub out/outside && ln -s ../outside out/dest/link
    python3 -c 'import ctypes
swap = ctypes.CDLL(None).renameat2
while True: swap(-100, b"out/dest/sub", -100, b"out/dest/link", 2)' &
    swapper=$!
    run race 0 15  # 15: it saw the link, and stopped
    kill "$swapper"
    wait "$swapper" 2>/dev/null
    written=$(find out/dest -type f | wc -l)
    [ -z "$(ls -A out/outside)" ] && { [ "$code" != 0 ] || [ "$written" = 60 ]; } && continue
    fail "round $round (exit $code, $written files inside) wrote outside: $(ls out/outside | head -3)"
    break
  done
else
  # ソ is 83 5C and 表 95 5C in code page 932; ア.exe is 83 41 ..., ヂ.exe 83 61 ...
  dest="out/dest$(printf '\xe3\x82\xbd')" kanji="dir$(printf '\xe8\xa1\xa8')"
  printf 'not a program' >extracted
  make kana "$dest" --run "8361$(hex .exe)" "$(hex 'dir\x95\x5c\\inner.txt')" "8341$(hex .exe)=extracted"
  mkdir -p "$dest" && cp "$marker" "$dest/$(printf '\xe3\x83\x82').exe"
  run kana 4
  [ -f "$dest/$kanji/inner.txt" ] && [ -f "$dest/$(printf '\xe3\x82\xa2').exe" ] || fail "kana gave: $(files)"
  [ -e "$dest/ran.txt" ] && fail "the planted program ran"
  # vorx.exe: the same names below a folder ending in ソ, and UTF-8 JSON.
  win "$craft" kana.vx "$(hex 'dir\x95\x5c\\inner.txt')" || fail "cannot craft kana.vx"
  rm -rf out && mkdir -p out
  win "$vorx_exe" x kana.vx -o "$dest" --codepage 932 >/dev/null 2>&1 || fail "vorx.exe x failed"
  [ "$(files)" = "$dest/$kanji/inner.txt " ] || fail "vorx.exe x gave: $(files)"
  win "$vorx_exe" l kana.vx --codepage 932 --json >list.json 2>/dev/null
  python3 -c 'import json, sys; sys.exit(json.load(open("list.json", encoding="utf-8"))["entries"][0]["name"] != sys.argv[1])' \
    "$kanji\\inner.txt" || fail "l --json: $(cat list.json)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "the self-extractor under Wine, code page $codepage: all checks passed"
