#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each for a bounded time from its seed corpus in fuzz/corpus/. Fails on any crash, broken
# invariant, leak, hang (one input running past 10 s) or memory limit; prints the executions
# of each target and, on failure, the report and the input that caused it.
#
#   bash tools/fuzz.sh [seconds per target]   (default 60)
#
# QIRO7_FUZZ_BUILD_DIR chooses the build folder (default build-fuzz/ in the repository). New
# inputs the fuzzers find stay in its corpus/ folder; the seeds in the repository are not touched.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
targets=(ReplyReaderFuzz WorkerStreamFuzz TextRulesFuzz)

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

echo "=== building the fuzz targets in $build_dir"
CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQIRO7_BUILD_FUZZ=ON -DQIRO7_BUILD_GUI=OFF -DQIRO7_BUILD_TESTS=OFF -DQIRO7_BUILD_BENCH=OFF \
    -DQIRO7_WERROR=ON "-DQIRO7_SANITIZE=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target "${targets[@]}"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1"

failed=0
for target in "${targets[@]}"; do
    corpus="$build_dir/corpus/$target"
    artifacts="$build_dir/artifacts/$target"
    log="$build_dir/$target.log"
    mkdir -p "$corpus" "$artifacts"
    status=0
    "$build_dir/fuzz/$target" "$corpus" "$root/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [ "$status" -eq 0 ]; then
        echo "=== $target: ${runs:-?} executions in $seconds s, no failure"
    else
        failed=1
        echo "=== $target: FAILED (exit $status) after ${runs:-?} executions"
        grep -E -A 40 'invariant broken|ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error' \
            "$log" | head -n 80 || tail -n 40 "$log"
        ls -1 "$artifacts"
    fi
done
exit "$failed"
