#!/bin/bash
# Runs the page walk (SelfExtractor.PagesAtOneScale) at 96 DPI, which saves the sizes the others
# must reach, then 144 and 192: one Wine session per scale (the prefix's LogPixels, read when its
# server starts), in a prefix of their own beside the main one.
#   scale_sessions.sh EMULATOR TEST_PROGRAM WORK_FOLDER    (exit 77: the emulator cannot run it)
set -uo pipefail
emulator=$1 program=$2 work=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=$root/build/wineprefix-scales WINEDEBUG=-all
exec 8>"$WINEPREFIX.session-lock" && flock 8 && "$root/scripts/wine-prefix" || exit 1
rm -f "$work/scale-96.txt"
failed=0
for dpi in 96 144 192; do
  /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    </dev/null >/dev/null 2>&1 || exit 1
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w
  echo "== $dpi DPI"
  VORX_GUI_DPI=$dpi "$root/scripts/test-session" "$emulator" "$program" --gtest_filter=SelfExtractor.PagesAtOneScale
  status=$?
  [ "$status" -eq 77 ] && exit 77
  [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
