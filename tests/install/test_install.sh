#!/usr/bin/env bash
# Installs the native build into a temporary prefix and builds its Debian package,
# unpacked with dpkg -x into a temporary root, and uses both as a user would: the
# installed tool makes self-extractors from the installed stubs (also after the prefix
# has moved), the manual page covers every option of the tool's help, and a C program
# builds against the installed library with pkg-config and with find_package(vorx).
# Exit code 77 (skipped) when the Windows stubs have not been built.
set -euo pipefail
build=$1 version=$2 stub32=$3 stub64=$4 c_program=$5 consumer=$6 cc=$7 cmake=$8 cpack=$9

for stub in "$stub32" "$stub64"; do
  [ -f "$stub" ] || { echo "[  SKIPPED ] $stub is not built (make win32 win64)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The machine field of a PE file's header: 014c for 32-bit x86, 8664 for x86-64.
machine_of() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}

mkdir -p "$work/payload/sub"
printf 'first file\n' >"$work/payload/a.txt"
head -c 200000 /dev/urandom >"$work/payload/sub/data.bin"

# The tool of an installed tree (ROOT/bin/vorx), its stubs and the self-extractors it
# makes from them.
check_tool() {
  local root=$1 label=$2 kind machine
  local vorx=$root/bin/vorx
  [ "$("$vorx" --version)" = "vorx $version" ] || fail "$label: --version says '$("$vorx" --version)'"
  [ "$("$vorx" -V)" = "vorx $version" ] || fail "$label: -V differs from --version"
  cmp -s "$stub32" "$root/share/vorx/sfxstub-win32.exe" || fail "$label: the win32 stub is not the built one"
  cmp -s "$stub64" "$root/share/vorx/sfxstub-win64.exe" || fail "$label: the win64 stub is not the built one"
  for kind in win32 win64; do
    machine=$([ $kind = win32 ] && echo 014c || echo 8664)
    rm -rf "$work/run" && mkdir -p "$work/run"
    # A file named like the stub kind in the current folder does not count.
    echo "not a stub" >"$work/run/$kind"
    (cd "$work/run" && "$vorx" a -y --sfx $kind --dest 'C:\out\' setup.exe ../payload >/dev/null) ||
      fail "$label: vorx a --sfx $kind"
    [ "$(machine_of "$work/run/setup.exe")" = "$machine" ] || fail "$label: --sfx $kind did not take the $kind stub"
    "$vorx" x "$work/run/setup.exe" -o "$work/run/out" >/dev/null || fail "$label: extracting the $kind self-extractor"
    diff -r "$work/payload" "$work/run/out/payload" || fail "$label: the $kind self-extractor's files differ"
  done
}

# --- cmake --install into a prefix ------------------------------------------------
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vorx lib/libvorx.a include/vorx.h share/vorx/sfxstub-win32.exe share/vorx/sfxstub-win64.exe \
         share/man/man1/vorx.1 lib/pkgconfig/vorx.pc lib/cmake/vorx/vorxConfig.cmake; do
  [ -f "$prefix/$f" ] || fail "install: $f is missing"
done
check_tool "$prefix" install

# The manual page renders without warnings and names every option of every help text.
page=$(groff -man -Tascii -ww "$prefix/share/man/man1/vorx.1" 2>"$work/groff.err" | col -b)
[ ! -s "$work/groff.err" ] || fail "manual page: $(cat "$work/groff.err")"
for option in "vorx $version" --version -V "/q /s"; do
  grep -q -- "$option" <<<"$page" || fail "manual page: '$option' is missing"
done
for command in "" a l t x; do
  for option in $("$prefix/bin/vorx" $command --help | sed -n 's/^  \(-[-a-z0-9]*\).*/\1/p'); do
    grep -q -- "$option" <<<"$page" || fail "manual page: '$option' of 'vorx $command --help' is missing"
  done
done

# A C program built against the prefix, both ways, run on an archive it writes.
# pkg-config sees the prefix only here (find_package below must find it without).
pc() { PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config "$@" vorx; }
[ "$(pc --modversion)" = "$version" ] || fail "pkg-config: wrong version"
# shellcheck disable=SC2046
"$cc" -std=c11 -pedantic -Wall -Werror "$c_program" $(pc --cflags --libs) -o "$work/by-pkg-config" ||
  fail "pkg-config: the C program does not build"
(cd "$work" && ./by-pkg-config pc.vorx) || fail "pkg-config: the C program's checks failed"
"$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DC_PROGRAM="$c_program" \
  -DCMAKE_C_COMPILER="$cc" >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "find_package(vorx)"; }
"$cmake" --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "vorx::vorx does not link"; }
(cd "$work" && consumer/c_program cm.vorx) || fail "find_package: the C program's checks failed"

# The installed tree may be moved: the tool and the library files find their own prefix.
mv "$prefix" "$work/moved"
check_tool "$work/moved" moved
rm "$work/moved/share/vorx/sfxstub-win64.exe"
status=0
(cd "$work/run" && "$work/moved/bin/vorx" a -y --sfx win64 none.exe ../payload >/dev/null 2>"$work/err") || status=$?
[ $status -eq 2 ] || fail "a missing installed stub: exit $status, not 2"
grep -q "win64 stub is not installed" "$work/err" || fail "a missing installed stub: $(cat "$work/err")"
[ ! -e "$work/run/none.exe" ] || fail "a missing installed stub: something was written"

# --- the Debian package -------------------------------------------------------------
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = vorx ] || fail "package: wrong name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package: wrong version"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "package: no dependency on the C library"
dpkg -x "$deb" "$work/root"
check_tool "$work/root/usr" package
echo "install, package and consumers: all checks passed"
