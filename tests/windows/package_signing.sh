#!/bin/sh
# scripts/package-windows with a code-signing certificate that this test
# makes (OpenSSL, a PKCS#12 file with a password): the four binaries of the
# folder and of the ZIP carry a signature that osslsigncode verifies against
# that certificate. Without a certificate they are packed unsigned, as
# before; with a wrong password nothing is passed off as signed.
#
#   package_signing.sh SOURCE_DIR WINDOWS_BUILD_DIR WORK_DIR
set -eu
top=$1
build=$2
work=$3
binaries="korvaupdate.exe KorvaLib.dll KORVABACKUP.EXE korvasign.exe"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "package_signing: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=KORVA Teste de Assinatura/O=KORVA Sistemas" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  2>/dev/null
openssl pkcs12 -export -in cert.pem -inkey key.pem -out korva.pfx -passout pass:segredo-do-teste

pack() {  # FOLDER [ARGUMENTS...]
  folder=$1
  shift
  KORVA_PACKAGE_PREBUILT=1 KORVA_WINDOWS_BUILD_DIR="$build" \
    "$top/scripts/package-windows" "$@" "$work/$folder" >"$work/$folder.log" 2>&1
}

KORVA_SIGN_PASSWORD=segredo-do-teste pack signed --certificate korva.pfx ||
  { cat signed.log >&2; fail "packing with the certificate failed"; }
mkdir zip && (cd zip && unzip -q "$work/signed/KorvaUpdate-Windows.zip")
for file in $binaries; do
  for copy in "signed/KorvaUpdate-Windows/$file" "zip/KorvaUpdate-Windows/$file"; do
    osslsigncode verify -CAfile cert.pem -in "$copy" >verify.out 2>&1 ||
      { cat verify.out >&2; fail "$copy: no valid signature"; }
    grep -q "KORVA Teste de Assinatura" verify.out || fail "$copy: signed by someone else"
  done
done

pack plain || { cat plain.log >&2; fail "packing without a certificate failed"; }
for file in $binaries; do
  if osslsigncode verify -in "plain/KorvaUpdate-Windows/$file" >verify.out 2>&1; then
    fail "$file is signed although no certificate was given"
  fi
done

if KORVA_SIGN_PASSWORD=errada pack wrong --certificate korva.pfx; then
  fail "a wrong password packed all the same"
fi
[ ! -e wrong/KorvaUpdate-Windows ] && [ ! -e wrong/KorvaUpdate-Windows.zip ] ||
  fail "unsigned binaries were left as a package"
echo "signed: $binaries"
