#!/usr/bin/env bash
# `make bench`: every Google Benchmark executable, then every comparison script here.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for exe in "$build"/bench/bench_*; do
    [ -x "$exe" ] || continue
    echo "== $(basename "$exe")"
    "$exe" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
for script in "$here"/*.sh; do
    [ "$(basename "$script")" = run-all.sh ] && continue
    echo "== $(basename "$script")"
    "$script" "$build"
done
