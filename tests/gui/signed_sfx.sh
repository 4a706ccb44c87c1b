#!/usr/bin/env bash
# A self-extractor made by vorx.exe (--sfx win64) and signed with osslsigncode by a certificate
# made here: the signature verifies, and covers the archive; vorx.exe and the file itself ("/q"
# under Wine) read and extract it as the unsigned one. Cut short anywhere, it is incomplete to
# both, and nothing of it is extracted.
#   signed_sfx.sh VORX_EXE STUB WINE_RUN
set -euo pipefail
vorx_exe=$(realpath "$1") stub=$(realpath "$2") wine_run=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir bin  # vorx.exe as installed on Windows: the stub of its kind beside it
cp "$vorx_exe" bin/vorx.exe
cp "$stub" bin/sfxstub-win64.exe
vorx() { "$wine_run" bin/vorx.exe "$@" </dev/null; }

mkdir -p payload/sub
printf 'read me\r\n' >payload/readme.txt
head -c 300001 /dev/urandom >payload/sub/data.bin
: >payload/sub/empty.txt
destination="Z:$work/quiet/"
vorx a --sfx win64 --dest "${destination//\//\\}" setup.exe payload >/dev/null || fail "vorx a --sfx win64"
vorx l setup.exe >unsigned.txt

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=vorx test publisher" -addext "keyUsage=digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -n "Test setup" -h sha256 \
  -in setup.exe -out signed.exe >/dev/null || fail "osslsigncode sign"
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s setup.exe)" ] || fail "no signature was appended"
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.txt 2>&1 || { cat verify.txt; fail "the signature does not verify"; }

# The signature covers the archive: one changed byte of it and verification fails.
size=$(stat -c %s setup.exe)
cp signed.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=$((size - 40)) conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile cert.pem -in tampered.exe >/dev/null 2>&1 || fail "a changed archive byte still verifies"

# The signature behind the archive is not read as part of it.
vorx l signed.exe >signed.txt || fail "vorx l of the signed file"
diff signed.txt unsigned.txt || fail "the listings differ"
vorx t signed.exe >/dev/null || fail "vorx t of the signed file"
vorx x signed.exe -o out >/dev/null || fail "vorx x of the signed file"
diff -r payload out/payload || fail "vorx x of the signed file gave other files"

# The signed self-extractor itself, quietly under Wine.
timeout 120 "$wine_run" signed.exe /q </dev/null >/dev/null 2>&1 || fail "signed.exe /q exited with $?"
diff -r payload quiet/payload || fail "signed.exe /q extracted other files"
# Cut short anywhere after the program's headers: incomplete, whoever reads it.
signed=$(stat -c %s signed.exe)
for cut in $((signed - 1)) $((size - 1)) $((size / 2)) 4096; do
  head -c $cut signed.exe >cut.exe
  code=0
  vorx l cut.exe >/dev/null 2>cut.txt || code=$?
  [ $code -eq 2 ] && grep -q "is incomplete" cut.txt || fail "vorx l of the file cut at $cut: exit $code, $(cat cut.txt)"
  # Windows loads no program whose image is cut; behind the image the program tells.
  [ $cut -lt $((size / 2)) ] && continue
  rm -rf quiet
  code=0
  timeout 120 "$wine_run" cut.exe /q /s </dev/null >/dev/null 2>&1 || code=$?
  [ $code -eq 13 ] && [ ! -e quiet ] || fail "cut.exe (cut at $cut) /q /s: exit $code"
done
echo "signed self-extractor: all checks passed"
