#!/usr/bin/env bash
# Checks what players download, after build/ has been built:
#  - the same sources copied to another folder and built there from nothing
#    give the same release files, byte for byte;
#  - given a certificate, the release target signs the exe (here with a
#    throwaway self-signed one) and the signature verifies; the password
#    shows up nowhere in the build folder or the build's output.
# Prints the SHA-256 of both builds. The signed exe is left at
# build/signed/release/ValtheriaIII-PL-Update1.exe for the tests to run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
release=$build/release
name=ValtheriaIII-PL-Update1

configure_and_build() {  # SOURCE BUILD [CMAKE ARGS...]
    local source=$1 dir=$2
    shift 2
    cmake -S "$source" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" -DUPDATER_TESTS=OFF "$@"
    cmake --build "$dir" -j2 --target release -- --no-print-directory
}

# A second build: other source and build folders, nothing carried over.
again=$build/again
rm -rf "$again"
mkdir -p "$again/src"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$again/src" -xf -
configure_and_build "$again/src" "$again/build" >/dev/null
for f in "$name.exe" CZYTAJ.TXT LICENSE.TXT "$name.zip" SHA256SUMS; do
    if ! cmp -s "$release/$f" "$again/build/release/$f"; then
        echo "check-release: $f differs between two builds of the same sources" >&2
        exit 1
    fi
done
echo "release: two builds give the same bytes"
echo "  $(sha256sum "$release/$name.exe" | cut -c1-64)  build/release/$name.exe"
echo "  $(sha256sum "$again/build/release/$name.exe" | cut -c1-64)  build/again/build/release/$name.exe"
(cd "$release" && sha256sum --quiet -c SHA256SUMS)

# A signed build, with a certificate made for this run only.
signed=$build/signed
keys=$(mktemp -d)
trap 'rm -rf "$keys"' EXIT
export UPDATER_TEST_SIGN_PASSWORD
UPDATER_TEST_SIGN_PASSWORD=$(head -c 18 /dev/urandom | base64)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Valtheria III update test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/signer.p12" \
    -passout env:UPDATER_TEST_SIGN_PASSWORD
rm -rf "$signed"
output=$(configure_and_build "$root" "$signed" -DUPDATER_SIGN_PKCS12="$keys/signer.p12" \
    -DUPDATER_SIGN_PASSWORD_VAR=UPDATER_TEST_SIGN_PASSWORD 2>&1)
if grep -rqF -- "$UPDATER_TEST_SIGN_PASSWORD" "$signed" || [[ $output == *"$UPDATER_TEST_SIGN_PASSWORD"* ]]; then
    echo "check-release: the certificate's password got into the build folder or its output" >&2
    exit 1
fi
osslsigncode verify -in "$signed/release/$name.exe" -CAfile "$keys/cert.pem" >/dev/null
(cd "$signed/release" && sha256sum --quiet -c SHA256SUMS)
echo "release: the signed exe verifies against its certificate"
