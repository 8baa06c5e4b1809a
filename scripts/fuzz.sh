#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz preset for FUZZ_SECONDS each (default 60), two at
# a time. New inputs go to build-fuzz/corpus/<target>, crashes to build-fuzz/artifacts/;
# the seed corpus in fuzz/corpus/ is only read. Exits non-zero when a target found a fault.
set -uo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
seconds=${FUZZ_SECONDS:-60}
targets=(flow reply sign sharedfile)

status=0
run() {
    local name=$1
    mkdir -p "$build/corpus/$name" "$build/artifacts"
    "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
        "$build/corpus/$name" "fuzz/corpus/$name" >"$build/fuzz_$name.log" 2>&1
    local rc=$?
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz_$name.log" | grep -o '[0-9]*$')
    echo "fuzz_$name: ${runs:-?} inputs in ${seconds} s, exit $rc (log: $build/fuzz_$name.log)"
    return $rc
}

pids=()
for name in "${targets[@]}"; do
    run "$name" &
    pids+=($!)
    # Two at a time: one per core.
    if [ ${#pids[@]} -ge 2 ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
