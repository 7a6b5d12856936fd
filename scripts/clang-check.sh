#!/usr/bin/env bash
# The second compiler and the static analyser. Builds the installer and the unit tests
# with clang and LLD in BUILD_DIR/clang, configured like the GCC build in BUILD_DIR, then
# runs clang-tidy (the committed .clang-tidy) on app/ install/ net/ record/ against that
# build. Exits non-zero on any compiler warning or clang-tidy finding. The unit tests
# themselves run from scripts/test.sh, in BUILD_DIR's Wine prefix.
# Usage: scripts/clang-check.sh BUILD_DIR   (BUILD_DIR configured by scripts/test.sh)
set -euo pipefail
. "$(dirname "$0")/common.sh"

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: scripts/clang-check.sh BUILD_DIR (a build folder scripts/test.sh has configured)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
clang="$build/clang"
halvex_install_packages cmake ninja-build python3 clang lld llvm clang-tidy \
    mingw-w64-x86-64-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64

# Every HALVEX_ option of the GCC build, so both builds make the same program; those given
# after them win: the tests use the GCC build's Wine prefix and certificates, and a test
# server port and proxy port of their own, since they run beside the GCC build's tests.
mapfile -t options < <(sed -n 's/^\(HALVEX_[A-Za-z0-9_]*:[A-Z]*=.*\)$/-D\1/p' \
    "$build/CMakeCache.txt")
for var in HALVEX_NET_TEST_PORT HALVEX_NET_PROXY_PORT; do
    port=$(halvex_cached_port "$clang" $var)
    if [ "$port" = "$(halvex_cached_port "$build" $var)" ]; then
        port=$(halvex_cached_port /nonexistent $var)
    fi
    options+=("-D$var:STRING=$port")
done
halvex_log "building with clang in $clang"
cmake -S "$HALVEX_ROOT" -B "$clang" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$HALVEX_ROOT/cmake/clang-mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    "${options[@]}" -DHALVEX_WINE_BUILD_DIR="$build" -DHALVEX_TESTS_UNOPTIMISED=ON \
    -DHALVEX_CLANG_BUILD_DIR= >/dev/null

# Only what the unit tests run (and the installer): the end-to-end helpers and the
# benchmark programs stay GCC-only, which keeps this step short.
mapfile -t targets < <(ctest --test-dir "$clang" -N --show-only=json-v1 \
    -E "$HALVEX_CLANG_SKIP_TESTS" | python3 -c '
import json, os, sys
bin_dir = sys.argv[1] + "/"
for test in json.load(sys.stdin)["tests"]:
    for arg in test.get("command", []):
        if arg.startswith(bin_dir) and arg.endswith(".exe"):
            print(os.path.basename(arg)[:-len(".exe")])
' "$clang/bin" | sort -u)
cmake --build "$clang" --target halvex-installer "${targets[@]}"

# One entry per file: some sources are built into several programs (the unpinned installer,
# benchmarks) and clang-tidy would check every entry. A file is checked again only when what
# clang-tidy sees has changed since it last passed: its preprocessed text with comments (every
# header included; NOLINT lives in comments), its command, the checks and clang-tidy itself.
# Each pass leaves its key in tidy/passed.
mkdir -p "$clang/tidy/passed"
counts=$(python3 -c '
import concurrent.futures, hashlib, json, os, shlex, subprocess, sys
build, root = sys.argv[1:3]
entries = {}
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    room = os.path.relpath(entry["file"], root).split(os.sep)[0]
    if room in ("app", "install", "net", "record") and entry["file"].endswith(".cpp"):
        entries.setdefault(entry["file"], entry)
json.dump(list(entries.values()), open(os.path.join(build, "tidy", "compile_commands.json"), "w"))
checker = subprocess.run(["clang-tidy", "--version"], capture_output=True, text=True).stdout
checks = open(os.path.join(root, ".clang-tidy"), "rb").read()
def key(entry):
    words = shlex.split(entry["command"])
    del words[words.index("-o"):words.index("-o") + 2]
    words.remove("-c")
    text = subprocess.run(words + ["-E", "-CC", "-o", "-"], cwd=entry["directory"],
                          capture_output=True, check=True).stdout
    digest = hashlib.sha256(checker.encode() + checks + entry["command"].encode() + text)
    return digest.hexdigest(), entry["file"]
with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    todo = [(digest, path) for digest, path in pool.map(key, entries.values())
            if not os.path.exists(os.path.join(build, "tidy", "passed", digest))]
with open(os.path.join(build, "tidy", "pending"), "w") as f:
    f.write("".join(digest + "\0" + path + "\0" for digest, path in todo))
print(len(todo), len(entries))
' "$clang" "$HALVEX_ROOT")
read -r pending total <<<"$counts"
halvex_log "clang-tidy on $pending of $total files (the rest passed unchanged before)"
if ! xargs -0 -r -n 2 -P "$(nproc)" sh -c \
    'clang-tidy -p "$0/tidy" --quiet "$2" && touch "$0/tidy/passed/$1"' "$clang" \
    <"$clang/tidy/pending" >"$clang/clang-tidy.log" 2>&1; then
    grep -v 'warnings\? generated\.$' "$clang/clang-tidy.log" >&2 || true
    echo "error: clang-tidy found faults (above; checks in .clang-tidy)" >&2
    exit 1
fi
