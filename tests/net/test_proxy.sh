#!/usr/bin/env bash
# Debian's tinyproxy for the downloader's route cases, in the background on 127.0.0.1:PORT,
# allowing CONNECT to SERVER_PORT only. Usage: test_proxy.sh start FOLDER PORT SERVER_PORT,
# test_proxy.sh stop FOLDER. Its pid is kept in FOLDER/pid and it is ended by that pid, while
# that pid is still tinyproxy's (one left by an interrupted run holds the port).
set -u
folder=$2
pid=$(cat "$folder/pid" 2>/dev/null) && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = tinyproxy ] &&
    kill "$pid"
rm -f "$folder/pid"
[ "$1" = start ] || exit 0

port=$3
mkdir -p "$folder"
printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nConnectPort %s\nLogFile "%s"\n' \
    "$port" "$4" "$folder/log" >"$folder/conf"
setsid tinyproxy -d -c "$folder/conf" </dev/null >/dev/null 2>&1 &
echo $! >"$folder/pid"
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && exit 0
    sleep 0.1
done
echo "tinyproxy did not listen on port $port" >&2
exit 1
