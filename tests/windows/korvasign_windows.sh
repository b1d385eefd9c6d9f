#!/bin/sh
# The maker's korvasign.exe of the Windows build (signatures and hashes over
# the mingw libgcrypt), checked on the Linux side against other tools: its
# SHA-256 of a package against sha256sum, its Ed25519 signature of a
# catalogue's statement (domain, name, SHA-512) verified by OpenSSL with the
# public key it printed, and a catalogue changed after signing refused.
#
#   korvasign_windows.sh WINE KORVASIGN.EXE SCRATCH_DIR
set -eu
wine=$1
exe=$2
dir=$3
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"

head -c 300007 /dev/urandom >pacote.zip
printf '[EMPRESA]\r\nID=KORVA\r\nSERIE=1\r\n' >catalogo.ini

expected=$(sha256sum pacote.zip | cut -d' ' -f1)
got=$("$wine" "$exe" sha256 pacote.zip | tr -d '\r')
if [ "$(printf '%s' "$got" | tr 'abcdef' 'ABCDEF')" != "SHA256=$(printf '%s' "$expected" | tr 'abcdef' 'ABCDEF')" ]; then
  echo "sha256: korvasign.exe says '$got', sha256sum '$expected'" >&2
  exit 1
fi

"$wine" "$exe" gerar-chave chave.txt >/dev/null
public=$("$wine" "$exe" chave-publica chave.txt | tr -d '\r' | sed -n 's/^CHAVE_PUBLICA=//p')
"$wine" "$exe" assinar-catalogo chave.txt catalogo.ini >/dev/null

# An Ed25519 public key in DER: the fixed SubjectPublicKeyInfo prefix and the
# 32 raw bytes.
{
  printf '\060\052\060\005\006\003\053\145\160\003\041\000'
  printf '%s' "$public" | base64 -d
} >public.der
tr -d '\r\n' <catalogo.ini.sig | base64 -d >signature.bin
# What the signature covers, built here on its own.
statement() {
  printf 'KORVA-CATALOGO-V2\ncatalogo.ini\000'
  openssl dgst -sha512 -binary catalogo.ini
}
statement >statement.bin
openssl pkeyutl -verify -pubin -keyform DER -inkey public.der -rawin \
  -in statement.bin -sigfile signature.bin

printf 'EMPRESA=3.16.49\r\n' >>catalogo.ini
statement >statement.bin
if openssl pkeyutl -verify -pubin -keyform DER -inkey public.der -rawin \
  -in statement.bin -sigfile signature.bin >/dev/null 2>&1; then
  echo "a changed catalogue still verified" >&2
  exit 1
fi
echo "korvasign.exe: SHA-256 and Ed25519 agree with sha256sum and OpenSSL"
