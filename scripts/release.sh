#!/usr/bin/env bash
# Builds the installer a vendor publishes: Release, the download origin, support page and
# setup-program pin (publisher, keys, version floor, product name) compiled in, signed with
# the vendor's key at the commit's time; then checks the signature against the given CA and
# prints the exe's size and SHA-256 and the key hash of its signer, ready for --publisher-keys.
#
# Usage: scripts/release.sh --cert FILE [--key FILE] --ca FILE --publisher NAME
#            --publisher-keys HEX[;HEX...] --min-version A.B.C.D --product NAME
#            [--origin URL] [--support-url URL] [--timestamp-url URL] [--tsa-ca FILE] [--out DIR]
# --cert is a PEM certificate (chain) with --key its PEM key, or a PKCS#12 file (.p12/.pfx)
# holding both. A key password goes in the environment variable HALVEX_SIGN_PASSWORD,
# never on the command line. --tsa-ca is the time-stamp server's CA, to check the timestamp.
set -euo pipefail
. "$(dirname "$0")/common.sh"

usage() {
    sed -n '7,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

cert="" key="" ca="" publisher="" publisher_keys="" min_version="" product="" timestamp_url=""
tsa_ca=""
origin="https://dl.halvex.net" support_url="https://support.halvex.net"
out="$HALVEX_ROOT/build/release"
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
    --cert | --key | --ca | --publisher | --publisher-keys | --min-version | --product | \
        --origin | --support-url | --timestamp-url | --tsa-ca | --out)
        name=${1#--}
        printf -v "${name//-/_}" '%s' "$2"
        ;;
    *) usage ;;
    esac
    shift 2
done
[ -n "$cert" ] && [ -n "$ca" ] || usage
# Unpinned, the installer would run as administrator whatever program the download server
# hands it; a name pin alone accepts any CA's certificate in that name, and a publisher pin
# alone any program the publisher ever signed. Builds without them are for development and
# tests (a plain CMake configure; scripts/test.sh builds one beside the pinned installer).
if [ -z "$publisher" ] || [ -z "${publisher_keys//;/}" ] || [ -z "$min_version" ] ||
    [ -z "$product" ]; then
    cat >&2 <<'END'
error: a release must pin the setup program: --publisher, --publisher-keys (at least one),
--min-version and --product are all needed. From a signed setup program SETUP.exe:
  --publisher       the CN under "Signer #0": osslsigncode verify -in SETUP.exe
  --publisher-keys  osslsigncode extract-signature -in SETUP.exe -out sig.der; openssl pkcs7
                    -inform DER -in sig.der -print_certs -out certs.pem; then for the signer's
                    certificate: openssl x509 -in SIGNER.crt -noout -pubkey |
                    openssl pkey -pubin -outform DER | sha256sum    (';' between keys)
  --min-version     "File Version Number": exiftool SETUP.exe   (libimage-exiftool-perl)
  --product         "Product Name": exiftool SETUP.exe
One floor and one name serve both setup programs. See docs/releasing.md.
END
    exit 2
fi
for file in "$cert" "$ca" ${key:+"$key"} ${tsa_ca:+"$tsa_ca"}; do
    [ -r "$file" ] || { echo "error: cannot read $file" >&2; exit 1; }
done
# Absolute paths: CMake resolves cache paths against the build folder.
cert=$(realpath "$cert") ca=$(realpath "$ca")
[ -z "$key" ] || key=$(realpath "$key")

halvex_install_packages git cmake ninja-build g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev osslsigncode
if [ -n "$(git -C "$HALVEX_ROOT" status --porcelain --untracked-files=no)" ]; then
    halvex_log "warning: the checkout has uncommitted changes; this build is not the commit's"
fi

halvex_log "building the release in $out"
mkdir -p "$out"
halvex_build "$out" -DHALVEX_BUILD_TESTS=OFF -DHALVEX_DOWNLOAD_ORIGIN="$origin" \
    -DHALVEX_SUPPORT_URL="$support_url" -DHALVEX_SETUP_PUBLISHER="$publisher" \
    -DHALVEX_SETUP_PUBLISHER_KEYS="$publisher_keys" -DHALVEX_SETUP_MIN_VERSION="$min_version" \
    -DHALVEX_SETUP_PRODUCT="$product" \
    -DHALVEX_SIGN_CERT="$cert" -DHALVEX_SIGN_KEY="$key" \
    -DHALVEX_SIGN_TIMESTAMP_URL="$timestamp_url" >"$out/build.log" 2>&1 || {
    tail -n 30 "$out/build.log" >&2
    echo "error: the build failed (log: $out/build.log)" >&2
    exit 1
}

exe="$out/bin/halvex-installer.exe"
verify=(osslsigncode verify -CAfile "$ca" -in "$exe")
[ -z "$tsa_ca" ] || verify+=(-TSA-CAfile "$tsa_ca")
if ! "${verify[@]}" >"$out/verify.log" 2>&1; then
    tail -n 20 "$out/verify.log" >&2
    echo "error: the signature of $exe does not verify against $ca" >&2
    exit 1
fi
halvex_log "signature verified against $ca"
halvex_log "setup programs must be signed by $publisher with one of the keys $publisher_keys," \
    "carry the product name $product and a file version of at least $min_version"
echo "$exe"
echo "size: $(stat -c %s "$exe") bytes"
echo "sha256: $(sha256sum "$exe" | cut -d' ' -f1)"
# The first certificate of a PEM chain is the signer's; a PKCS#12 file's is its own.
leaf="$cert"
case $cert in
*.p12 | *.pfx)
    leaf="$out/signer.pem"
    password=(-passin pass:)
    [ -z "${HALVEX_SIGN_PASSWORD+set}" ] || password=(-passin env:HALVEX_SIGN_PASSWORD)
    openssl pkcs12 -in "$cert" -nokeys -clcerts "${password[@]}" 2>/dev/null |
        openssl x509 -out "$leaf"
    ;;
esac
echo "signing key (SHA-256 of its SubjectPublicKeyInfo, for --publisher-keys): $(halvex_spki_sha256 "$leaf")"
