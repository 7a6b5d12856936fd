#!/usr/bin/env bash
# The tests' background servers, started and stopped with start-stop-daemon; each keeps its
# pid in FOLDER/pid, and a start first ends what that names (one left by an interrupted run
# holds the port), then returns once the server listens on 127.0.0.1:PORT.
#   background.sh server FOLDER PORT [ARGS...]      tools/vendor_server.py --port PORT ARGS
#   background.sh proxy FOLDER PORT CONNECT-PORT... Debian's tinyproxy, CONNECT to those only
#   background.sh stop server|proxy FOLDER
set -eu
. "$(dirname "$0")/../scripts/common.sh"
action=$1
[ "$action" != stop ] || shift
kind=$1 folder=$2
declare -A program=([server]=$HALVEX_PYTHON [proxy]=/usr/bin/tinyproxy)
daemon=(start-stop-daemon --quiet --pidfile "$folder/pid" --exec "${program[$kind]}")
"${daemon[@]}" --stop --oknodo --remove-pidfile --retry TERM/10/KILL/5
[ "$action" != stop ] || exit 0

port=$3
shift 3
mkdir -p "$folder"
if [ "$kind" = proxy ]; then
    printf 'Port %s\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\nLogLevel Connect\nLogFile "%s"\n' \
        "$port" "$folder/log" >"$folder/conf"
    printf 'ConnectPort %s\n' "$@" >>"$folder/conf"
    set -- -d -c "$folder/conf"
else
    set -- "$HALVEX_ROOT/tools/vendor_server.py" --port "$port" "$@"
fi
"${daemon[@]}" --start --background --make-pidfile -- "$@"
halvex_wait 10 halvex_listening "$port" || { echo "error: no $kind listens on port $port" >&2; exit 1; }
