#!/usr/bin/env bash
# The extraction hunt against the Windows programs of one build under Wine: vorx.exe x
# and the self-extractor (/q /s), in the ANSI code pages 1252 and 932, with a folder of
# the destination swapped for a link while they extract, and on a small file system that
# fills up (skipped, exit code 77 of the hunt, where none can be mounted).
#
#   extract_hunt_wine.sh EXTRACT_HUNT BUILD_DIR (win64 or win32 build) CASES
# Exits with 77 (skipped) when the build is missing or this machine cannot run it.
set -u
hunt=$1
bin=$2/bin
cases=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
runner=$root/scripts/wine-run
case $2 in
  *win32*)
    runner=$root/scripts/wine-run32
    if ! reason=$("$root/scripts/i386-probe" 2>&1); then echo "SKIPPED: $reason"; exit 77; fi ;;
esac
for program in vorx.exe sfxstub.exe; do
  [ -f "$bin/$program" ] || { echo "SKIPPED: $bin/$program is not built"; exit 77; }
done

# Wine takes the program's ANSI code page from the locale it starts in.
locales=$2/locale
if [ ! -d "$locales/ja_JP.UTF-8" ]; then
  mkdir -p "$locales"
  localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" 2>/dev/null ||
    { echo "SKIPPED: localedef cannot make ja_JP.UTF-8 (Debian package locales)"; exit 77; }
fi

failed=0
for run in "C.UTF-8 1252" "ja_JP.UTF-8 932" "C.UTF-8 1252 --race" "C.UTF-8 1252 --full"; do
  set -- $run
  for program in --tool=vorx.exe --stub=sfxstub.exe; do
    echo "== $run $program"
    LOCPATH=$locales LANG=$1 LC_ALL=$1 "$hunt" --wine "$runner" --cases "$cases" "${program%%=*}" \
      "$bin/${program#*=}" --codepages "$2" --seed 1 ${3:-}
    code=$?
    [ $code -eq 0 ] || [ $code -eq 77 ] || failed=1
  done
done
exit $failed
