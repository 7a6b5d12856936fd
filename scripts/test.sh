#!/usr/bin/env bash
# Configures, builds and runs every test under Wine on a private X display.
# Idempotent; installs missing Debian packages first. Usage: scripts/test.sh [ctest args]
# HALVEX_BUILD_DIR picks another build folder (each has its own Wine prefix).
set -euo pipefail
. "$(dirname "$0")/common.sh"

build="${HALVEX_BUILD_DIR:-$HALVEX_ROOT/build/test}"
mkdir -p "$build"
halvex_install_packages "${HALVEX_PACKAGES[@]}"

# The end-to-end tests run the real installer against a stand-in server on 127.0.0.1,
# so the test build compiles that origin in; the port is picked once and then kept. It is
# named "localhost": Wine checks the host against the certificate's DNS names only.
# It also pins the test publisher by name and by two keys (the second to move to), and is
# signed by it, like a release.
e2e_port=$(halvex_cached_port "$build" HALVEX_E2E_PORT)
halvex_make_certs "$build"
signing="$build/certs/signing"
halvex_log "building in $build"
halvex_build "$build" -DHALVEX_BUILD_TESTS=ON -DHALVEX_E2E_PORT:STRING="$e2e_port" \
    -DHALVEX_DOWNLOAD_ORIGIN="https://localhost:$e2e_port" \
    -DHALVEX_SUPPORT_URL="https://support.halvex.test" \
    -DHALVEX_SETUP_PUBLISHER="Halvex Test Publisher" \
    -DHALVEX_SETUP_PUBLISHER_KEYS="$(halvex_spki_sha256 "$signing/publisher.crt");$(halvex_spki_sha256 "$signing/second.crt")" \
    -DHALVEX_SIGN_CERT="$signing/publisher.crt" -DHALVEX_SIGN_KEY="$signing/publisher.key"

# A full run also builds with clang and LLD and runs clang-tidy; ctest arguments mean
# an iteration on some tests, which leaves both out.
if [ $# -eq 0 ]; then
    "$HALVEX_ROOT/scripts/clang-check.sh" "$build"
fi

halvex_wine_env "$build"
export HALVEX_PRIVATE_DISPLAY=1
cleanup() {
    halvex_stop_wineserver
    halvex_stop_xvfb "$build"
}
trap cleanup EXIT
halvex_start_xvfb "$build" 1920x1080x24
halvex_prepare_prefix "$build"
halvex_start_wineserver "$build"

halvex_log "running the tests"
cd "$build"
status=0
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@" || status=$?
if [ $# -eq 0 ]; then
    # After the main run, not beside it: both use this prefix, display and its fixtures.
    halvex_log "running the unit tests of the clang build"
    ctest --test-dir "$build/clang" --output-on-failure --timeout 600 -j "$(nproc)" \
        -E "$HALVEX_CLANG_SKIP_TESTS" || status=$?
fi
exit "$status"
