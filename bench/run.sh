#!/usr/bin/env bash
# Measures the installer against the limits of this machine and writes bench/results.md:
# download throughput (own path, bare WinHTTP, bare WinINet, native curl) from nginx over
# HTTPS on 127.0.0.1, peak memory, the whole process as the user waits for it (start to the
# setup program's launch, on loopback and on a paced link, beside bare processes, with a
# step-by-step breakdown), start-up to first paint (per step) and size. Idempotent;
# installs the Debian packages it needs first, builds into build/bench.
#   HALVEX_BENCH_RUNS       runs per figure, median reported (default 5)
#   HALVEX_BENCH_SIZE_MIB   size of the large body (default 512)
#   HALVEX_BENCH_PACED_MIB  size of the setup program the whole processes fetch (default 256)
#   HALVEX_BENCH_PHASES     which figures to measure (default: all of throughput memory
#                           signature process startup size)
#   HALVEX_BUILD_DIR        build folder (default build/bench)
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"

build="${HALVEX_BUILD_DIR:-$HALVEX_ROOT/build/bench}"
runs="${HALVEX_BENCH_RUNS:-5}"
size_mib="${HALVEX_BENCH_SIZE_MIB:-512}"
paced_mib="${HALVEX_BENCH_PACED_MIB:-256}"
all_phases="throughput memory signature process startup size"
phases=" ${HALVEX_BENCH_PHASES:-$all_phases} "
# A partial run must not overwrite the results of a full one.
results="$HALVEX_ROOT/bench/results.md"
[ "$phases" = " $all_phases " ] || results="$build/bench-out/results.md"
mkdir -p "$build"

halvex_install_packages "${HALVEX_PACKAGES[@]}" nginx curl python3-matplotlib
halvex_log "building in $build"
port=$(halvex_cached_port "$build" HALVEX_BENCH_PORT)
# nginx listens on 127.0.0.1 and is reached as localhost: Wine's certificate check matches
# DNS names only, never the IP address the test certificate also carries.
origin="https://localhost:$port"
# The installer built here fetches its setup program from the nginx below, as in real use.
halvex_build "$build" -DHALVEX_BUILD_TESTS=OFF -DHALVEX_BENCH_PORT:STRING="$port" \
    -DHALVEX_DOWNLOAD_ORIGIN="$origin" \
    -DHALVEX_SUPPORT_URL="https://support.halvex.test"
halvex_make_certs "$build"

bin="$build/bin"
data="$build/bench-data"
work="$build/bench-run"
out="$build/bench-out"
web="$build/nginx"
mkdir -p "$data" "$work" "$out" "$web/temp"
for mib in 1 "$size_mib"; do
    body="$data/body-$mib.bin"
    if [ "$(stat -c %s "$body" 2>/dev/null || echo 0)" != $((mib * 1048576)) ]; then
        halvex_log "making a $mib MiB body"
        head -c $((mib * 1048576)) /dev/urandom >"$body"
    fi
done
# The setup program served from the setup paths: a stand-in that notes when it starts,
# padded with random bytes (a PE image ignores what follows its sections).
setup="$data/setup-$paced_mib.bin"
stamp_size=$(stat -c %s "$bin/launch_stamp.exe")
if [ "$(stat -c %s "$setup" 2>/dev/null || echo 0)" != $((paced_mib * 1048576)) ] ||
    ! cmp -s -n "$stamp_size" "$setup" "$bin/launch_stamp.exe"; then
    halvex_log "making the $paced_mib MiB setup program"
    { cat "$bin/launch_stamp.exe"; head -c $((paced_mib * 1048576 - stamp_size)) /dev/urandom; } \
        >"$setup"
fi

nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    halvex_stop_wineserver
    halvex_stop_xvfb "$build"
    rm -rf "$work"
}
trap cleanup EXIT

# Debian's nginx as a process of our own, in the foreground, on a port nobody else uses.
# The setup paths are paced at the given rate (nginx units, per second); the rate is sent
# back in a header, so a reload can be seen to have taken effect.
write_nginx_conf() {
    local rate=$1
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
    default_type application/octet-stream;
    client_body_temp_path $web/temp/body;
    proxy_temp_path $web/temp/proxy;
    fastcgi_temp_path $web/temp/fastcgi;
    uwsgi_temp_path $web/temp/uwsgi;
    scgi_temp_path $web/temp/scgi;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $build/certs/server.crt;
        ssl_certificate_key $build/certs/server.key;
        root $data;
        location ~ ^/halvex-nefo/(release|ebwebview)\$ {
            limit_rate $rate;
            add_header X-Halvex-Rate $rate;
            try_files /setup-$paced_mib.bin =404;
        }
    }
}
EOF
}
wait_for_rate() {
    for _ in $(seq 100); do
        curl -fsS --cacert "$build/certs/ca.pem" -r 0-0 -o /dev/null -D - \
            "https://127.0.0.1:$port/halvex-nefo/release" 2>/dev/null |
            grep -qi "^X-Halvex-Rate: $1" && return 0
        sleep 0.1
    done
    echo "error: nginx did not take the rate $1" >&2
    return 1
}
# Paces the setup paths anew: nginx rereads its configuration on SIGHUP.
pace() {
    write_nginx_conf "$1"
    kill -HUP "$nginx_pid"
    wait_for_rate "$1"
}
# While the start-up is measured the worker must still be downloading: 2 MiB/s keeps it so.
startup_rate=2m
# A fast real line: 40 MiB/s, about 42 MB/s. Loopback is nginx unpaced (rate 0).
paced_rate=40m
write_nginx_conf "$startup_rate"
halvex_log "starting nginx on 127.0.0.1:$port"
nginx -p "$web" -c "$web/nginx.conf" &
nginx_pid=$!
wait_for_rate "$startup_rate"

halvex_wine_env "$build"
export HALVEX_PRIVATE_DISPLAY=1
halvex_start_xvfb "$build" 1920x1080x24
halvex_start_wineserver "$build"
halvex_prepare_prefix "$build"
# Xvfb runs no window manager, and Wine waits 2 s, in vain, for one to confirm that a managed
# window it hides is withdrawn: the installer hides its window right before it starts the
# setup program. Unmanaged windows need no such answer; on Windows hiding is immediate.
halvex_reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
# The calls whose relay trace marks the steps of a traced whole process (process_clock.py);
# only a program run with WINEDEBUG=+relay traces them.
halvex_reg 'HKCU\Software\Wine\Debug' /v RelayInclude /d \
    "$(cd "$HALVEX_ROOT/bench" && python3 -c 'import process_clock; print(process_clock.RELAY_INCLUDE)')"

phase() { [[ "$phases" == *" $1 "* ]]; }
# Each phase starts its own figures afresh.
fresh() {
    local name
    for name in "$@"; do rm -f "$out/$name.txt"; done
}

# One download by one client; its key=value line is appended to $out/NAME.txt.
download() {
    local name=$1 client=$2 mib=$3 line
    rm -f "$work/body.bin"
    sync
    if [ "$client" = curl ]; then
        line=$(curl -fsS --cacert "$build/certs/ca.pem" -o "$work/body.bin" \
            -w 'mode=curl ok=1 bytes=%{size_download} seconds=%{time_total}\n' \
            "https://127.0.0.1:$port/body-$mib.bin")
    else
        line=$(cd "$work" && wine "$bin/download_bench.exe" "$client" "$origin/body-$mib.bin" \
            body.bin | tr -d '\r')
    fi
    if ! cmp -s "$work/body.bin" "$data/body-$mib.bin"; then
        line="$line ok=0 error=content"
    fi
    echo "$line" >>"$out/$name.txt"
    echo "  $name: $line"
}

# Rotating the order keeps a warm or cold moment of the machine from favouring one client.
rotate() {
    local measure=$1 prefix=$2 i j n
    shift 2
    n=$#
    local clients=("$@")
    for i in $(seq "$runs"); do
        for j in $(seq 0 $((n - 1))); do
            client=${clients[$(((i + j) % n))]}
            "$measure" "$prefix$client" "$client"
        done
    done
}

large_download() { download "$1" "$2" "$size_mib"; }

if phase throughput; then
    halvex_log "throughput: $runs runs of $size_mib MiB each by the installer's path, bare WinHTTP, bare WinINet and curl"
    fresh installer winhttp winhttp-8k wininet curl
    (cd "$work" && wine "$bin/download_bench.exe" winhttp "$origin/body-1.bin" warm.bin >/dev/null)
    rotate large_download "" installer winhttp winhttp-8k wininet curl
fi

if phase memory; then
    halvex_log "memory: $runs downloads of 1 MiB, by the installer's path and by bare WinHTTP"
    fresh small small-winhttp-8k
    for i in $(seq "$runs"); do
        download small installer 1
        download small-winhttp-8k winhttp-8k 1
    done
fi

if phase signature; then
    halvex_log "signature check of a $size_mib MiB setup program, with a publisher pinned and without"
    fresh signature-pinned signature-unpinned
    # The stand-in signed by the test publisher (whose CA the prefix trusts), padded inside
    # the signature to the large body's size.
    signed="$data/signed-$size_mib.bin"
    publisher=$(cd "$HALVEX_ROOT/tools" && python3 -c 'import standin_signing; print(standin_signing.PUBLISHER)')
    if [ "$(stat -c %s "$signed" 2>/dev/null || echo 0)" != $((size_mib * 1048576)) ] ||
        [ "$signed" -ot "$bin/launch_stamp.exe" ]; then
        halvex_log "signing a $size_mib MiB setup program"
        (cd "$HALVEX_ROOT/tools" && python3 -c '
import sys, standin_signing
program = open(sys.argv[1], "rb").read()
signed = standin_signing.signed_program(program, "publisher", sys.argv[2], int(sys.argv[3]))
open(sys.argv[4], "wb").write(signed)' "$bin/launch_stamp.exe" "$build/certs/signing" \
            $((size_mib * 1048576)) "$signed")
    fi
    for i in $(seq "$runs"); do
        for pin in pinned unpinned; do
            args=("$(winepath -w "$signed")")
            [ "$pin" = pinned ] && args+=("$publisher")
            line=$(wine "$bin/download_bench.exe" signature "${args[@]}" | tr -d '\r')
            echo "$line" >>"$out/signature-$pin.txt"
            echo "  signature-$pin: $line"
        done
    done
fi

# One whole process as the user waits for it; its key=value line is appended to
# $out/NAME.txt. The installer runs from its start until its setup program (the stamp) has
# run and it has closed, and is timed to the setup program's launch; the bare loops until
# they exit. With "trace", the moments of its steps are read from Wine's relay trace.
whole_process() {
    local name=$1 client=$2 trace=${3:+--trace} line
    rm -rf "$work/whole" && mkdir -p "$work/whole"
    sync
    if [ "$client" = installer ]; then
        line=$(cd "$work/whole" &&
            HALVEX_LAUNCH_STAMP="$(winepath -w "$work/whole/stamp.txt")" \
                python3 "$HALVEX_ROOT/bench/process_clock.py" $trace \
                --stamp "$work/whole/stamp.txt" -- wine "$bin/halvex-installer.exe" | tr -d '\r')
        # Only a setup program that passed every check and ran writes the stamp.
        if [[ "$line" == *"launch_s=-1.000"* ]]; then
            line="$line ok=0 error=no-launch"
        else
            line="$line ok=1 bytes=$((paced_mib * 1048576))"
        fi
    else
        line=$(cd "$work/whole" &&
            python3 "$HALVEX_ROOT/bench/process_clock.py" $trace -- \
                wine "$bin/download_bench.exe" "$client" "$origin/halvex-nefo/release" body.bin |
            tr -d '\r')
        cmp -s "$work/whole/body.bin" "$setup" || line="$line ok=0 error=content"
    fi
    echo "$line" >>"$out/$name.txt"
    echo "  $name: $line"
}
traced_process() { whole_process "$1" "$2" trace; }

if phase process; then
    for link in loopback paced; do
        rate=0
        [ "$link" = paced ] && rate=$paced_rate
        halvex_log "whole processes, $link (rate $rate/s): $runs each, $paced_mib MiB, then traced"
        pace "$rate"
        fresh "$link-installer" "$link-winhttp" "$link-winhttp-8k" "$link-wininet" \
            "$link-traced-installer" "$link-traced-winhttp-8k"
        rotate whole_process "$link-" installer winhttp-8k winhttp wininet
        rotate traced_process "$link-traced-" installer winhttp-8k
    done
    pace "$startup_rate"
fi

# One start-up under the launcher; its key=value line is appended to $out/NAME.txt. A
# program left running a moment (LINGER ms) after its first paint adds its own steps.
startup() {
    local name=$1 class=$2 x=$3 y=$4 rgb=$5 exe=$6 linger=${7:-0} line
    rm -rf "$work/startup" && mkdir -p "$work/startup"
    line=$(cd "$work/startup" && wine "$bin/startup_launcher.exe" "$class" "$x" "$y" "$rgb" \
        30000 "$(winepath -w "$exe")" "$linger" | tr -d '\r')
    if [ "$linger" != 0 ]; then
        line="$line $(tr -d '\r' <"$work/startup/steps.txt" 2>/dev/null || echo ok=0)"
    fi
    echo "$line" >>"$out/$name.txt"
    echo "  $name: $line"
}

if phase startup; then
    halvex_log "start-up: process start to first paint, installer against a minimal window"
    fresh startup-installer startup-floor startup-steps startup-steps-alone startup-warmup
    # The pixel probed is one of the background picture's, away from the texts; the floor
    # paints its whole window in the bar colour.
    read -r px py colour < <(python3 "$HALVEX_ROOT/bench/report.py" pixel \
        "$HALVEX_ROOT/res/background.bmp" 150 120)
    HALVEX_STEPS_REPORT="$(winepath -w "$work/startup")\\steps.txt"
    export HALVEX_STEPS_REPORT
    for i in $(seq 0 "$runs"); do
        # The first round warms the caches for all and is not counted.
        for program in installer floor steps steps-alone; do
            name="startup-$program"
            [ "$i" = 0 ] && name="startup-warmup"
            case $program in
                installer) startup "$name" HalvexInstaller "$px" "$py" "$colour" \
                    "$bin/halvex-installer.exe" ;;
                floor) startup "$name" HalvexStartupFloor 150 120 7582E1 \
                    "$bin/startup_floor.exe" 500 ;;
                steps) startup "$name" HalvexInstaller "$px" "$py" "$colour" \
                    "$bin/startup_steps.exe" 500 ;;
                steps-alone) HALVEX_STEPS_WITHOUT_WORKER=1 startup "$name" HalvexInstaller \
                    "$px" "$py" "$colour" "$bin/startup_steps.exe" 500 ;;
            esac
        done
    done
fi

if phase size; then
    halvex_log "size: the installer against a program that uses only regex, thread and function"
    # Relinks both programs unstripped, with a link map, using the build's own link commands.
    for target in halvex-installer size_floor; do
        link=$(cd "$build" && ninja -t commands "bin/$target.exe" | tail -n 1)
        link=${link#: && }
        link=${link% && :}
        link=${link// -s / }
        link=${link//bin\/$target.exe/bench-out\/$target.unstripped.exe}
        link=$(sed -E 's# -Wl,--out-implib,[^ ]+##' <<<"$link")
        rm -f "$out/$target.map"
        (cd "$build" && eval "$link -Wl,-Map=bench-out/$target.map")
    done
fi

# Debian's interpreter, the one python3-matplotlib is installed for: a python3 earlier on
# PATH (pyenv, a virtual environment) may not have it.
/usr/bin/python3 "$HALVEX_ROOT/bench/report.py" report --out "$out" --build "$build" \
    --root "$HALVEX_ROOT" --size-mib "$size_mib" --paced-mib "$paced_mib" \
    --paced-rate "$paced_rate" --runs "$runs" --results "$results" \
    --before "$HALVEX_ROOT/bench/results.md"
