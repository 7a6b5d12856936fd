#!/usr/bin/env bash
# Builds the installer against a stand-in vendor server on this machine, pinned to a test
# publisher (and the stand-in setup program's version floor and product name) and signed by
# it, and runs it under Wine, on your display or, when there is none,
# on a private Xvfb: once on a setup program that publisher signed, once on one signed by
# someone else, which it must refuse. Saves screenshots to build/run/ and says what
# happened. Idempotent; leaves nothing running.
set -euo pipefail
. "$(dirname "$0")/common.sh"

build="$HALVEX_ROOT/build/run"
mkdir -p "$build"
halvex_install_packages "${HALVEX_PACKAGES[@]}"

# The server's port is compiled into the installer; keep it while it stays free.
port=$(cat "$build/server.port" 2>/dev/null || true)
if [ -z "$port" ] || halvex_listening "$port"; then
    port=$(halvex_free_port)
    echo "$port" >"$build/server.port"
fi
halvex_make_certs "$build"
signing="$build/certs/signing"
halvex_log "building in $build (download server https://localhost:$port)"
# Named "localhost": Wine checks the host against the certificate's DNS names only.
halvex_build "$build" -DHALVEX_BUILD_TESTS=OFF -DHALVEX_DOWNLOAD_ORIGIN="https://localhost:$port" \
    -DHALVEX_SETUP_PUBLISHER="Halvex Test Publisher" \
    -DHALVEX_SETUP_MIN_VERSION="$HALVEX_STANDIN_VERSION" -DHALVEX_SETUP_PRODUCT="$HALVEX_STANDIN_PRODUCT" \
    -DHALVEX_SIGN_CERT="$signing/publisher.crt" -DHALVEX_SIGN_KEY="$signing/publisher.key"

halvex_wine_env "$build"
cleanup() {
    halvex_stop_wineserver
    halvex_stop_xvfb "$build"
}
trap cleanup EXIT
if [ -n "${DISPLAY:-}" ] && ! xdpyinfo >/dev/null 2>&1; then
    halvex_log "display $DISPLAY cannot be opened; using a private one"
    unset DISPLAY
fi
halvex_start_xvfb "$build" 1920x1080x24
halvex_log "showing the installer on display $DISPLAY"
halvex_start_wineserver "$build"
halvex_prepare_prefix "$build"

"$HALVEX_PYTHON" "$HALVEX_ROOT/tools/run_demo.py" "$build" "$port"
