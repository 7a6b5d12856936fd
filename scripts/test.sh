#!/usr/bin/env bash
# Configures, builds and runs every test under Wine on private X displays.
# Idempotent; installs missing Debian packages first. Usage: scripts/test.sh [ctest args]
# HALVEX_BUILD_DIR picks another build folder (each has its own Wine prefixes).
set -euo pipefail
. "$(dirname "$0")/common.sh"

build="${HALVEX_BUILD_DIR:-$HALVEX_ROOT/build/test}"
mkdir -p "$build"
halvex_install_packages "${HALVEX_PACKAGES[@]}"

# A full run also builds with clang and LLD, runs clang-tidy and runs the clang build's unit
# tests, as tests of the same ctest run (they start with the end-to-end streams); ctest
# arguments mean an iteration on some tests, which leaves all three out.
clang_build=""
[ $# -eq 0 ] && clang_build="$build/clang"

# The end-to-end tests run the real installer against a stand-in server on 127.0.0.1,
# so the test build compiles that origin in; the port is picked once and then kept. It is
# named "localhost": Wine checks the host against the certificate's DNS names only.
# It also pins the test publisher by name and by two keys (the second to move to), and the
# stand-in setup program's version floor and product name, and is signed by it, like a
# release. The end-to-end tests' second stream gets installers that
# fetch from a port of its own.
e2e_port=$(halvex_cached_port "$build" HALVEX_E2E_PORT)
e2e_port_b=$(halvex_cached_port "$build" HALVEX_E2E_PORT_B)
halvex_make_certs "$build"
signing="$build/certs/signing"
halvex_log "building in $build"
halvex_build "$build" -DHALVEX_BUILD_TESTS=ON -DHALVEX_E2E_PORT:STRING="$e2e_port" \
    -DHALVEX_E2E_PORT_B:STRING="$e2e_port_b" \
    -DHALVEX_DOWNLOAD_ORIGIN="https://localhost:$e2e_port" \
    -DHALVEX_SUPPORT_URL="https://support.halvex.test" \
    -DHALVEX_SETUP_PUBLISHER="Halvex Test Publisher" \
    -DHALVEX_SETUP_PUBLISHER_KEYS="$(halvex_spki_sha256 "$signing/publisher.crt");$(halvex_spki_sha256 "$signing/second.crt")" \
    -DHALVEX_SETUP_MIN_VERSION="$HALVEX_STANDIN_VERSION" -DHALVEX_SETUP_PRODUCT="$HALVEX_STANDIN_PRODUCT" \
    -DHALVEX_SIGN_CERT="$signing/publisher.crt" -DHALVEX_SIGN_KEY="$signing/publisher.key" \
    -DHALVEX_CLANG_BUILD_DIR="$clang_build"

# The end-to-end tests run in two streams, each with a prefix and a display of its own
# (tests/e2e/harness.py), so they change the user's settings, profile and drive C, and take
# screenshots, beside each other and beside the unit tests, which use the build's own prefix
# and display.
cleanup() {
    local name
    for name in wineprefix wineprefix-e2e wineprefix-e2e-b; do
        halvex_wine_env "$build" "$name"
        halvex_stop_wineserver
    done
    for name in xvfb xvfb-e2e xvfb-e2e-b; do halvex_stop_xvfb "$build" "$name"; done
}
trap cleanup EXIT
export HALVEX_PRIVATE_DISPLAY=1
halvex_start_xvfb "$build" 1920x1080x24 xvfb-e2e-b
export HALVEX_E2E_DISPLAY_B=$DISPLAY
halvex_start_xvfb "$build" 1920x1080x24 xvfb-e2e
export HALVEX_E2E_DISPLAY=$DISPLAY
halvex_start_xvfb "$build" 1920x1080x24
halvex_wine_env "$build" wineprefix-e2e
halvex_prepare_prefix "$build"
# The other two prefixes are made the same way, so they start as copies of it.
for prefix in wineprefix-e2e-b wineprefix; do
    ! cmp -s "$build/$prefix/.halvex-ready" "$build/wineprefix-e2e/.halvex-ready" || continue
    halvex_log "copying the Wine prefix wineprefix-e2e to $prefix"
    # Once its server has ended, everything the prefix holds is on disk.
    wineserver -w
    rm -rf "${build:?}/$prefix"
    cp -a "$build/wineprefix-e2e" "$build/$prefix"
done
for prefix in wineprefix-e2e wineprefix-e2e-b wineprefix; do
    halvex_wine_env "$build" "$prefix"
    halvex_prepare_prefix "$build"
    halvex_start_wineserver "$build"
done

halvex_log "running the tests"
cd "$build"
# Two more jobs than cores: the end-to-end streams mostly wait on windows, and the clang
# build and the reproducibility check, which take turns, on compilers.
ctest --output-on-failure --timeout 600 -j "$(($(nproc) + 2))" "$@"
