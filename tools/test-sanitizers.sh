#!/usr/bin/env bash
# Builds the whole program and runs every test under AddressSanitizer with
# UndefinedBehaviorSanitizer, then separately under ThreadSanitizer. Any sanitizer report fails
# the test that triggered it; the script fails when any test fails. It expects the packages of
# tools/setup.sh to be installed (tools/test.sh installs them).
#
#   bash tools/test-sanitizers.sh [address|thread]...   (default: both, in that order)
#
# QIRO7_ASAN_BUILD_DIR and QIRO7_TSAN_BUILD_DIR choose the build folders (default build-asan/
# and build-tsan/ in the repository).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kinds=("$@")
if [ "${#kinds[@]}" -eq 0 ]; then
    kinds=(address thread)
fi

# Leak reports fail the tests. The suppression list may name functions of Qt, fontconfig and the
# system libraries under them, never a whole library, so a leak of ours always counts.
export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_suite() {
    local kind="$1" sanitize build_dir
    case "$kind" in
        address)
            sanitize="address,undefined"
            build_dir="${QIRO7_ASAN_BUILD_DIR:-$root/build-asan}"
            ;;
        thread)
            sanitize="thread"
            build_dir="${QIRO7_TSAN_BUILD_DIR:-$root/build-tsan}"
            ;;
        *)
            echo "unknown sanitizer: $kind (address or thread)" >&2
            return 2
            ;;
    esac

    echo "=== $sanitize: building in $build_dir"
    local started=$SECONDS
    # Debug keeps assertions; -O1 keeps the instrumented suite fast enough. GCC's
    # maybe-uninitialized analysis misreads its own sanitizer instrumentation (a call through a
    # member pointer), so that one warning is off in these builds only.
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        "-DCMAKE_C_FLAGS=-O1" "-DCMAKE_CXX_FLAGS=-O1 -Wno-maybe-uninitialized" \
        -DQIRO7_WERROR=ON "-DQIRO7_SANITIZE=$sanitize" -DQIRO7_BUILD_BENCH=OFF \
        ${QIRO7_CMAKE_ARGS:-} >/dev/null || return 1
    cmake --build "$build_dir" --parallel "$(nproc)" || return 1

    echo "=== $sanitize: running the tests"
    local log="$build_dir/sanitizer-ctest.log" status=0
    (
        cd "$build_dir"
        ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1" \
            TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=7:suppressions=$root/tools/sanitizers/tsan.supp" \
            QT_QPA_PLATFORM=offscreen \
            bash -c 'ctest --output-on-failure --parallel "$(nproc)" --timeout 600 ||
                { source "$0"; rerun_if_only_unplug_hangs; }' "$root/tools/lib/unplug-hangs.sh"
    ) >"$log" 2>&1 || status=$?
    # The failing tests' output, then ctest's closing lines.
    if [ "$status" -ne 0 ]; then
        grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed ' "$log" | tail -n 400
    fi
    echo "=== $sanitize: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)"
    echo "=== $sanitize: $((SECONDS - started)) s"
    return "$status"
}

failed=0
for kind in "${kinds[@]}"; do
    run_suite "$kind" || failed=1
done
exit "$failed"
