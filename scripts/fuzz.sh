#!/usr/bin/env bash
# Builds the fuzz targets natively with clang (libFuzzer, AddressSanitizer, UBSan) in
# build/fuzz and runs each for SECONDS (default 60) on a fresh work copy of its seed
# corpus, all at once with --parallel. Prints executions, corpus size and findings;
# exits non-zero when a target crashes, hangs or breaks a property.
# Usage: scripts/fuzz.sh [--parallel] [SECONDS] [TARGET...]   (targets: url record version)
set -euo pipefail
. "$(dirname "$0")/common.sh"

parallel=0
if [ "${1:-}" = --parallel ]; then
    parallel=1
    shift
fi
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(url record version)

build="${HALVEX_FUZZ_BUILD_DIR:-$HALVEX_ROOT/build/fuzz}"
fuzz_src="$HALVEX_ROOT/tests/fuzz"

halvex_install_packages cmake ninja-build clang libclang-rt-dev
halvex_log "building the fuzz targets in $build"
cmake -S "$HALVEX_ROOT" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_FUZZ=ON >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# One target: a fresh work corpus from the seeds (the committed corpus is only read),
# findings kept in build/fuzz/findings/<target>.
run_target() {
    local target=$1 work="$build/work/$1" findings="$build/findings/$1"
    rm -rf "$work" "$findings"
    mkdir -p "$work" "$findings" "$build/logs"
    cp "$fuzz_src/corpus/$target/." "$work/" -R
    "$build/tests/fuzz/fuzz_$target" "$work" -dict="$fuzz_src/$target.dict" \
        -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" >"$build/logs/$target.log" 2>&1
}

report_target() {
    local target=$1 status=$2 log="$build/logs/$1.log" execs found
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$build/findings/$target" -type f | wc -l)
    printf '%-7s %s s, %s executions, corpus %s files, %s findings, exit %s\n' "$target" \
        "$seconds" "${execs:-?}" "$(find "$build/work/$target" -type f | wc -l)" "$found" "$status"
    if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
        grep -E '^(property failed|==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -n 5 || true
        find "$build/findings/$target" -type f -printf '  finding: %p\n'
        return 1
    fi
}

# With --parallel all targets run at once; otherwise each waits for the one before.
declare -A status pids
[ "$parallel" = 0 ] || halvex_log "fuzzing ${targets[*]} for $seconds s at once"
for target in "${targets[@]}"; do
    [ "$parallel" = 1 ] || halvex_log "fuzzing $target for $seconds s"
    run_target "$target" &
    pids[$target]=$!
    [ "$parallel" = 1 ] || { wait "$!" && status[$target]=0 || status[$target]=$?; }
done
for target in "${targets[@]}"; do
    [ -n "${status[$target]:-}" ] || { wait "${pids[$target]}" && status[$target]=0 || status[$target]=$?; }
done

failed=0
for target in "${targets[@]}"; do
    report_target "$target" "${status[$target]}" || failed=1
done
exit "$failed"
