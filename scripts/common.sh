# Shared by run.sh, test.sh and the Wine wrapper: packages, the build's own Wine
# prefix, a private X display and the test CA. Source it; it defines functions only.

HALVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian's interpreter, the one its python3-* packages are installed for.
HALVEX_PYTHON=/usr/bin/python3

# tinyproxy-bin is the proxy alone: the tinyproxy package would also start a system service.
HALVEX_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev googletest wine wine64 xvfb x11-utils fonts-wqy-microhei python3
    python3-cryptography python3-pil openssl ca-certificates xdotool tinyproxy-bin osslsigncode
    clang lld llvm clang-tidy inotify-tools)

# Tests the clang build leaves out: the end-to-end runs (the GCC build's), the benchmark
# smoke, the art script (no compiler involved) and the reproducibility check (GCC's).
HALVEX_CLANG_SKIP_TESTS='^(e2e_.*|bench_.*|platform_art_.*|reproducible_build)$'
# What the stand-in setup program's version resource says (tools/standin_setup.rc); the test
# builds pin it as the setup program's version floor and product name.
HALVEX_STANDIN_VERSION=2.4.1.0
HALVEX_STANDIN_PRODUCT="青禾 Nefo"

# Each line says how long the script has run, so every step's cost shows.
halvex_log() { printf '==> [%3d s] %s\n' "$SECONDS" "$*"; }

# Installs whichever of the given Debian packages are missing, and says which.
halvex_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    halvex_log "installing Debian packages: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Environment for every Wine command of this build: its own prefix (PREFIX, a folder in
# the build, default wineprefix), no Mono/Gecko offers (they would block), quiet debug output.
halvex_wine_env() {
    local build=$1 prefix=${2:-wineprefix}
    export WINEPREFIX="$build/$prefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=d"
}

# Starts a private Xvfb unless DISPLAY is set (or HALVEX_PRIVATE_DISPLAY=1 forces one), on a
# display number it picks itself and reports once it accepts clients (-displayfd).
# NAME (default xvfb) names its pid and log files in the build, so a build can run two.
halvex_start_xvfb() {
    local build=$1 size=${2:-1920x1080x24} name=${3:-xvfb} fd n=""
    if [ -n "${DISPLAY:-}" ] && [ "${HALVEX_PRIVATE_DISPLAY:-0}" != 1 ]; then return 0; fi
    exec {fd}< <(exec Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>&1 >"$build/$name.log" 2>&1)
    echo $! >"$build/$name.pid"
    read -r -t 30 -u "$fd" n || true
    exec {fd}<&-
    [ -n "$n" ] || { echo "error: Xvfb did not start (log: $build/$name.log)" >&2; return 1; }
    export DISPLAY=":$n"
}

halvex_stop_xvfb() {
    local build=$1 name=${2:-xvfb}
    [ -f "$build/$name.pid" ] || return 0
    kill "$(cat "$build/$name.pid")" 2>/dev/null || true
    rm -f "$build/$name.pid"
}

# Runs COMMAND until it succeeds, for at most SECONDS.
halvex_wait() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

halvex_listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

halvex_free_port() {
    python3 -c "import socket;s=socket.socket();s.bind(('127.0.0.1',0));print(s.getsockname()[1])"
}

# The test CA and the server certificate for localhost, and the code-signing ones.
halvex_make_certs() { "$HALVEX_PYTHON" "$HALVEX_ROOT/tools/test_certs.py" "$1/certs"; }

# SHA-256 of a certificate's DER SubjectPublicKeyInfo: what HALVEX_SETUP_PUBLISHER_KEYS pins.
halvex_spki_sha256() {
    openssl x509 -in "$1" -noout -pubkey | openssl pkey -pubin -outform DER | sha256sum | cut -d' ' -f1
}

halvex_reg() { wine reg add "$@" /f >/dev/null 2>&1; }

# Makes the build's prefix: Windows 10, unthemed, dot-folders not hidden by name, no crash
# dialog, CJK font linking, and the test CAs trusted. Made again when the CAs change (its marker
# holds their digest). Needs the built tools.
halvex_prefix_digest() { cat "$1/certs/ca.der" "$1/certs/signing/ca.der" | sha256sum; }

halvex_prepare_prefix() {
    local build=$1 face ca
    [ "$(cat "$WINEPREFIX/.halvex-ready" 2>/dev/null)" != "$(halvex_prefix_digest "$build")" ] ||
        return 0
    halvex_log "preparing the Wine prefix $WINEPREFIX"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    halvex_reg 'HKCU\Software\Wine' /v Version /d win10
    halvex_reg 'HKCU\Software\Wine' /v ShowDotFiles /d Y
    halvex_reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    halvex_reg 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /d 0
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "System"; do
        halvex_reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei"
    done
    for ca in "$build/certs/ca.der" "$build/certs/signing/ca.der"; do
        wine "$build/bin/trust_ca.exe" "$(winepath -w "$ca")" || return 1
    done
    wineserver -w
    halvex_prefix_digest "$build" >"$WINEPREFIX/.halvex-ready"
}

# Wine's background processes keep the output of the command that started them open,
# so the server is started on its own, writing to a file.
halvex_start_wineserver() {
    local build=$1 name
    name=$(basename "$WINEPREFIX")
    wineserver -p >"$build/$name-server.log" 2>&1 </dev/null &
    sleep 0.5
    # The first program also starts Wine's services, which keep its output open: let
    # that be this one, not a test whose pipe ctest waits on.
    wine cmd /c exit >"$build/$name-warmup.log" 2>&1 </dev/null || true
}

halvex_stop_wineserver() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}

# Prints the port kept in the build's CMake cache under the given name, or a free one
# when the folder has not been configured with it yet, so reconfiguring keeps the port.
halvex_cached_port() {
    local build=$1 var=$2 port
    port=$(sed -n "s/^$var:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null)
    [ -n "$port" ] || port=$(halvex_free_port)
    echo "$port"
}

# Configures and builds the given build folder with the cross toolchain.
halvex_build() {
    local build=$1
    shift
    cmake -S "$HALVEX_ROOT" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$HALVEX_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$build"
}
