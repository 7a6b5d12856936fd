#!/usr/bin/env bash
# Measures the installer against the limits of this machine and writes bench/results.md, its
# chart and hyperfine's records (bench/hyperfine-LINK.json): whole processes timed by
# hyperfine (the installer until it ends after its setup program, a stand-in that exits at
# once, beside bare WinHTTP and WinINet processes fetching the same file, on loopback and
# paced at 40 MiB/s), their steps from Wine's relay trace (clock.py), start-up to the first
# paint against a minimal window, peak memory and size. Idempotent; installs the Debian
# packages it needs first, builds into build/bench.
#   HALVEX_BENCH_RUNS  runs per figure (default 5; start-up: four times as many rounds)
#   HALVEX_BENCH_MIB   size of the setup program (default 256; other sizes write their page
#                      into the build folder, not bench/)
#   HALVEX_BUILD_DIR   build folder (default build/bench)
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"

build="${HALVEX_BUILD_DIR:-$HALVEX_ROOT/build/bench}"
runs="${HALVEX_BENCH_RUNS:-5}"
mib="${HALVEX_BENCH_MIB:-256}"
pages="$HALVEX_ROOT/bench"
[ "$mib" = 256 ] && [ "$runs" -ge 5 ] || pages="$build/bench-out"
bin="$build/bin" data="$build/bench-data" work="$build/bench-run" out="$build/bench-out"
web="$build/nginx"
mkdir -p "$build" "$data" "$work" "$out" "$web/temp"

halvex_install_packages "${HALVEX_PACKAGES[@]}" nginx curl python3-matplotlib hyperfine
port=$(halvex_cached_port "$build" HALVEX_BENCH_PORT)
# nginx listens on 127.0.0.1 and is reached as localhost: Wine's certificate check matches
# DNS names only. The installer built here fetches its setup program from it.
origin="https://localhost:$port"
halvex_log "building in $build"
halvex_build "$build" -DHALVEX_BUILD_TESTS=OFF -DHALVEX_BENCH_PORT:STRING="$port" \
    -DHALVEX_DOWNLOAD_ORIGIN="$origin" -DHALVEX_SUPPORT_URL="https://support.halvex.test"
halvex_make_certs "$build"

# The setup programs served: the stand-in that exits at once, padded with random bytes to the
# size (a PE image ignores what follows its sections).
standin=$(stat -c %s "$bin/setup_standin.exe")
for size in 1 "$mib"; do
    setup="$data/setup-$size.bin"
    if [ "$(stat -c %s "$setup" 2>/dev/null || echo 0)" != $((size * 1048576)) ] ||
        ! cmp -s -n "$standin" "$setup" "$bin/setup_standin.exe"; then
        halvex_log "making the $size MiB setup program"
        { cat "$bin/setup_standin.exe"; head -c $((size * 1048576 - standin)) /dev/urandom; } \
            >"$setup"
    fi
done

nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    halvex_stop_wineserver
    halvex_stop_xvfb "$build"
}
trap cleanup EXIT
# Debian's nginx as a process of our own on a port nobody else uses: the setup paths serve one
# file at a rate (nginx units a second; 0: unpaced), sent back in a header so that a reload
# (SIGHUP) can be seen to have taken effect.
serve() {
    local rate=$1 file=$2
    cat >"$web/nginx.conf" <<EOF
daemon off;
worker_processes 1;
user root;
pid $web/nginx.pid;
error_log $web/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $web/temp/body; proxy_temp_path $web/temp/proxy;
    fastcgi_temp_path $web/temp/fastcgi; uwsgi_temp_path $web/temp/uwsgi;
    scgi_temp_path $web/temp/scgi;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $build/certs/server.crt;
        ssl_certificate_key $build/certs/server.key;
        root $data;
        location ~ ^/halvex-nefo/(release|ebwebview)\$ {
            limit_rate $rate;
            add_header X-Halvex-Serves "$rate $file";
            try_files /$file =404;
        }
    }
}
EOF
    if [ -z "$nginx_pid" ]; then
        nginx -p "$web" -c "$web/nginx.conf" &
        nginx_pid=$!
    else
        kill -HUP "$nginx_pid"
    fi
    serving() {
        curl -fsS --cacert "$build/certs/ca.pem" -r 0-0 -o /dev/null -D - \
            "https://127.0.0.1:$port/halvex-nefo/release" 2>/dev/null |
            grep -qi "^X-Halvex-Serves: $rate $file"
    }
    halvex_wait 10 serving && return 0
    echo "error: nginx did not take up serving $file at $rate" >&2
    return 1
}
served="setup-$mib.bin"
serve 0 "$served"

halvex_wine_env "$build"
export HALVEX_PRIVATE_DISPLAY=1
halvex_start_xvfb "$build" 1920x1080x24
halvex_start_wineserver "$build"
halvex_prepare_prefix "$build"
# Xvfb runs no window manager, and Wine would wait 2 s, in vain, for one to confirm that the
# window the installer hides before it starts the setup program is withdrawn. Unmanaged
# windows need no such answer; on Windows hiding is immediate.
halvex_reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
# The calls whose relay trace marks the steps; only a program run with +relay traces them.
halvex_reg 'HKCU\Software\Wine\Debug' /v RelayInclude /d \
    "$(cd "$HALVEX_ROOT/bench" && python3 -c 'import clock; print(clock.RELAY_INCLUDE)')"

# The shell command that runs one program in the work folder: the installer, or a bare loop
# fetching the setup program. An installer showing a failure box would wait for ever.
command_of() {
    case $1 in
        installer) echo "cd '$work' && timeout 300 wine '$bin/halvex-installer.exe'" ;;
        *) echo "cd '$work' && timeout 300 wine '$bin/download_bench.exe' $1" \
            "'$origin/halvex-nefo/release' body.bin" ;;
    esac
}
# One run under clock.py (ARGS: --trace), its line appended to $out/NAME.txt. The installer
# ends by itself (exit 0) only after it has run its setup program, every check passed; a bare
# loop's file must be the one served.
clocked() {
    local name=$1 program=$2 line
    shift 2
    rm -f "$work/body.bin"
    sync
    line=$(python3 "$HALVEX_ROOT/bench/clock.py" "$@" -- bash -c "$(command_of "$program")")
    [ "$program" = installer ] || cmp -s "$work/body.bin" "$data/$served" ||
        line="$line error=content"
    echo "$line" >>"$out/$name.txt"
    echo "  $name: $line"
    [[ "$line" != *error=* && "$line" == *" exit=0"* ]]
}

# Loopback is nginx unpaced; 40 MiB/s (about 42 MB/s) is a fast real line.
links=("loopback 0" "paced 40m")
for link in "${links[@]}"; do
    read -r name rate <<<"$link"
    halvex_log "whole processes, $name (rate $rate): $runs runs each of $mib MiB, by hyperfine"
    serve "$rate" "$served"
    commands=()
    for program in installer winhttp-8k winhttp wininet; do
        commands+=(-n "$program" "$(command_of "$program")")
    done
    hyperfine --style basic --warmup 1 --runs "$runs" --prepare "rm -f '$work/body.bin'; sync" \
        --export-json "$out/hyperfine-$name.json" "${commands[@]}"
done

for link in "${links[@]}"; do
    read -r name rate <<<"$link"
    halvex_log "traced whole processes, $name: $runs each"
    serve "$rate" "$served"
    rm -f "$out/trace-$name-"*.txt
    for i in $(seq "$runs"); do
        clocked "trace-$name-installer" installer --trace
        clocked "trace-$name-winhttp-8k" winhttp-8k --trace
    done
done

halvex_log "start-up to the first paint beside a minimal window: $((runs * 4)) rounds"
# The worker must still be downloading while the window comes up: 2 MiB/s keeps it so.
serve 2m "$served"
rm -f "$out/startup-"*.txt
# The pixel probed is one of the background picture's, away from the texts; the floor
# paints its whole window in the bar's colour.
colour=$("$HALVEX_PYTHON" -c 'import sys; from PIL import Image
print("%02X%02X%02X" % Image.open(sys.argv[1]).convert("RGB").getpixel((150, 120)))' \
    "$HALVEX_ROOT/res/background.bmp")
# The first round warms the caches for both and is not counted.
for i in $(seq 0 $((runs * 4))); do
    for program in installer floor; do
        args=(HalvexInstaller 150 120 "$colour" "$bin/halvex-installer.exe")
        [ "$program" = installer ] ||
            args=(HalvexStartupFloor 150 120 7582E1 "$bin/startup_floor.exe")
        # A start-up that failed is recorded (ok=0) and left out of the figures.
        line=$(cd "$work" && wine "$bin/startup_launcher.exe" "${args[@]:0:4}" 30000 \
            "$(winepath -w "${args[4]}")" | tr -d '\r') || true
        [ "$i" = 0 ] || echo "$line" >>"$out/startup-$program.txt"
        echo "  $program: $line"
    done
done

rm -f "$out/memory-"*.txt
for size in 1 "$mib"; do
    halvex_log "peak memory with a $size MiB setup program: 3 runs each"
    served="setup-$size.bin"
    serve 0 "$served"
    for i in 1 2 3; do
        clocked "memory-$size-installer" installer
        clocked "memory-$size-winhttp-8k" winhttp-8k
    done
done

# Debian's interpreter, the one python3-matplotlib is installed for.
/usr/bin/python3 "$HALVEX_ROOT/bench/report.py" "$out" "$build" "$pages" "$mib" "$runs"
