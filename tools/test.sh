#!/usr/bin/env bash
# Sets everything up, builds with warnings as errors, and runs every test.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"

QIRO7_CMAKE_ARGS="-DQIRO7_WERROR=ON ${QIRO7_CMAKE_ARGS:-}" \
    QIRO7_BUILD_DIR="$build_dir" bash "$root/tools/setup.sh"

cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 300
