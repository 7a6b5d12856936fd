#!/usr/bin/env bash
# Measures the installer against the limits of this machine and writes bench/results.md:
# download throughput (own path, bare WinHTTP, native curl) from nginx over HTTPS on
# 127.0.0.1, the cost of progress reports, peak memory, start-up to first paint and size.
# Idempotent; installs the Debian packages it needs first, builds into build/bench.
#   HALVEX_BENCH_RUNS      runs per figure, median reported (default 5)
#   HALVEX_BENCH_SIZE_MIB  size of the large body (default 512)
#   HALVEX_BUILD_DIR       build folder (default build/bench)
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"

build="${HALVEX_BUILD_DIR:-$HALVEX_ROOT/build/bench}"
runs="${HALVEX_BENCH_RUNS:-5}"
size_mib="${HALVEX_BENCH_SIZE_MIB:-512}"
results="$HALVEX_ROOT/bench/results.md"
mkdir -p "$build"

halvex_install_packages "${HALVEX_PACKAGES[@]}" nginx curl
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

data="$build/bench-data"
work="$build/bench-run"
out="$build/bench-out"
web="$build/nginx"
mkdir -p "$data" "$work" "$out" "$web/temp"
rm -f "$out"/*.txt
for mib in 1 "$size_mib"; do
    body="$data/body-$mib.bin"
    if [ "$(stat -c %s "$body" 2>/dev/null || echo 0)" != $((mib * 1048576)) ]; then
        halvex_log "making a $mib MiB body"
        head -c $((mib * 1048576)) /dev/urandom >"$body"
    fi
done

nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    halvex_stop_wineserver
    halvex_stop_xvfb "$build"
    rm -rf "$work"
}
trap cleanup EXIT

# Debian's nginx as a process of our own, in the foreground, on a port nobody else uses.
# The setup-program paths are paced so the installer's worker is still downloading while
# its window comes up.
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
            limit_rate 2m;
            try_files /body-$size_mib.bin =404;
        }
    }
}
EOF
halvex_log "starting nginx on 127.0.0.1:$port"
nginx -p "$web" -c "$web/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -fsS --cacert "$build/certs/ca.pem" -o /dev/null "https://127.0.0.1:$port/body-1.bin" \
        2>/dev/null && break
    sleep 0.1
done

halvex_wine_env "$build"
export HALVEX_PRIVATE_DISPLAY=1
halvex_start_xvfb "$build" 1920x1080x24
halvex_start_wineserver "$build"
halvex_prepare_prefix "$build"

bin="$build/bin"

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

halvex_log "throughput: $runs runs of $size_mib MiB each by the installer's path, bare WinHTTP and curl"
(cd "$work" && wine "$bin/download_bench.exe" winhttp "$origin/body-1.bin" warm.bin >/dev/null)
clients=(installer winhttp winhttp-8k curl)
for i in $(seq "$runs"); do
    # Rotating the order keeps a warm or cold moment of the machine from favouring one client.
    for j in 0 1 2 3; do
        client=${clients[$(((i + j) % 4))]}
        download "$client" "$client" "$size_mib"
    done
done

halvex_log "progress cost before the change: the sink that repaints on every report"
for i in $(seq "$runs"); do
    download unthrottled unthrottled "$size_mib"
done

halvex_log "memory: $runs downloads of 1 MiB, by the installer's path and by bare WinHTTP"
for i in $(seq "$runs"); do
    download small installer 1
    download small-winhttp-8k winhttp-8k 1
done

halvex_log "hashing speed of the downloader's SHA-256"
for i in $(seq "$runs"); do
    wine "$bin/download_bench.exe" sha256 256 | tr -d '\r' >>"$out/sha256.txt"
done

halvex_log "start-up: process start to first paint, installer against a minimal window"
# The pixel probed is one of the background picture's, away from the texts; the floor
# paints its whole window in the bar colour.
read -r px py colour < <(python3 "$HALVEX_ROOT/bench/report.py" pixel \
    "$HALVEX_ROOT/res/background.bmp" 150 120)
startup() {
    local name=$1 class=$2 x=$3 y=$4 rgb=$5 exe=$6 line
    rm -rf "$work/startup" && mkdir -p "$work/startup"
    line=$(cd "$work/startup" && wine "$bin/startup_launcher.exe" "$class" "$x" "$y" "$rgb" \
        30000 "$(winepath -w "$exe")" | tr -d '\r')
    echo "$line" >>"$out/$name.txt"
    echo "  $name: $line"
}
for i in $(seq 0 "$runs"); do
    for program in installer floor; do
        # The first pair warms the caches for both and is not counted.
        name="startup-$program"
        [ "$i" = 0 ] && name="startup-warmup"
        if [ "$program" = installer ]; then
            startup "$name" HalvexInstaller "$px" "$py" "$colour" "$bin/halvex-installer.exe"
        else
            startup "$name" HalvexStartupFloor 150 120 7582E1 "$bin/startup_floor.exe"
        fi
    done
done

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

python3 "$HALVEX_ROOT/bench/report.py" report --out "$out" --build "$build" \
    --root "$HALVEX_ROOT" --size-mib "$size_mib" --runs "$runs" \
    --results "$results"
