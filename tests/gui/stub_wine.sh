#!/usr/bin/env bash
# The self-extractor under Wine in ANSI code page 932, quiet and silent (/q /s): a destination
# ending in ソ (trail byte 0x5C), an entry dir表\inner.txt, and a run command naming a planted
# ヂ.exe when ア.exe was extracted (one ASCII letter bit apart): nothing is started (4). The
# ja_JP locale is made in LOCALES; without localedef the run is skipped (77).
#   stub_wine.sh STUB WINE_RUN CRAFT_ARCHIVE MARKER LOCALES
set -u
stub=$(realpath "$1") wine_run=$(realpath "$2") craft=$(realpath "$3") marker=$(realpath "$4")
locales=$(realpath -m "$5")
export LC_ALL=C.UTF-8
if [ ! -d "$locales/ja_JP.UTF-8" ]; then
  mkdir -p "$locales" && localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" ||
    { echo "[  SKIPPED ] no localedef, or it cannot make ja_JP.UTF-8"; exit 77; }
fi
# Wine takes the ANSI code page from the locale it starts in.
win() { env LOCPATH="$locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$wine_run" "$@"; }
work=$(mktemp -d)
trap 'cd / && rm -rf "$work"' EXIT
cd "$work"
hex() { printf '%b' "$1" | od -v -An -tx1 | tr -d ' \n'; }
# ソ is 83 5C and 表 95 5C in code page 932; ア.exe is 83 41 ..., ヂ.exe 83 61 ...
dest="out/dest$(printf '\xe3\x82\xbd')" kanji="dir$(printf '\xe8\xa1\xa8')"
folder=$(printf 'Z:%s/%s' "$PWD" "$dest" | tr / '\\' | iconv -f UTF-8 -t CP932 | od -v -An -tx1 | tr -d ' \n')
printf 'not a program' >extracted
win "$craft" --sfx "$stub" --dest "$folder" --run "8361$(hex .exe)" kana.exe "$(hex 'dir\x95\x5c\\inner.txt')" \
  "8341$(hex .exe)=extracted" || { echo "FAILED: cannot make kana.exe"; exit 1; }
mkdir -p "$dest" && cp "$marker" "$dest/$(printf '\xe3\x83\x82').exe"
win kana.exe /q /s </dev/null >/dev/null 2>&1
code=$? failures=()
[ "$code" -eq 77 ] && exit 77
[ "$code" -eq 4 ] || failures+=("exit $code, expected 4")
[ -f "$dest/$kanji/inner.txt" ] && [ -f "$dest/$(printf '\xe3\x82\xa2').exe" ] || failures+=("files: $(find out -type f)")
[ -e "$dest/ran.txt" ] && failures+=("the planted program ran")
[ ${#failures[@]} -eq 0 ] || { printf 'FAILED: %s\n' "${failures[@]}" >&2; exit 1; }
echo "the self-extractor under Wine, code page 932: all checks passed"
