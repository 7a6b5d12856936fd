#!/usr/bin/env bash
# Builds halvex-installer.exe twice from clean, from the same commit (default HEAD)
# exported into two different folders, as a release is built (publisher pin set, signed
# with one throwaway key at the commit's time), and compares the two files byte for byte.
# Prints both SHA-256 sums; exits non-zero when the files differ.
# Usage: scripts/check-reproducible.sh [COMMIT]   (HALVEX_REPRO_DIR: where repro-a/-b go)
set -euo pipefail
. "$(dirname "$0")/common.sh"

halvex_install_packages git cmake ninja-build g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev openssl osslsigncode
commit=$(git -C "$HALVEX_ROOT" rev-parse --verify "${1:-HEAD}^{commit}")
base="${HALVEX_REPRO_DIR:-$HALVEX_ROOT/build}"

# The exported trees have no history, so the signing time is given as the commit's.
SOURCE_DATE_EPOCH=$(git -C "$HALVEX_ROOT" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
key="$base/repro-key"
if [ ! -f "$key/signer.crt" ]; then
    mkdir -p "$key"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Halvex Reproducibility Check" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$key/signer.key" -out "$key/signer.crt" \
        2>/dev/null
fi

# Each side builds in its own folder; the two run side by side, as the check ends the test run.
build_side() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/src"
    git -C "$HALVEX_ROOT" archive "$commit" | tar -x -C "$dir/src"
    cmake -S "$dir/src" -B "$dir/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$dir/src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DHALVEX_BUILD_TESTS=OFF \
        -DHALVEX_SETUP_PUBLISHER="Halvex Reproducibility Check" \
        -DHALVEX_SIGN_CERT="$key/signer.crt" -DHALVEX_SIGN_KEY="$key/signer.key" &&
        cmake --build "$dir/build" --target halvex-installer -- -j1
}

declare -A pids
for side in a b; do
    halvex_log "building halvex-installer.exe from $commit in $base/repro-$side"
    build_side "$base/repro-$side" >"$base/repro-$side.log" 2>&1 &
    pids[$side]=$!
done
for side in a b; do
    wait "${pids[$side]}" || {
        tail -n 30 "$base/repro-$side.log" >&2
        echo "error: the build in $base/repro-$side failed" >&2
        exit 1
    }
done
exes=("$base"/repro-{a,b}/build/bin/halvex-installer.exe)

sha256sum "${exes[@]}"
if ! osslsigncode verify -CAfile "$key/signer.crt" -in "${exes[0]}" >"$base/repro-a/verify.log" 2>&1; then
    tail -n 20 "$base/repro-a/verify.log" >&2
    echo "error: the signed build does not verify" >&2
    exit 1
fi
if cmp -s "${exes[@]}"; then
    halvex_log "identical, and signed"
    exit 0
fi
echo "error: the two builds differ in $(cmp -l "${exes[@]}" | wc -l) bytes" >&2
exit 1
