#!/usr/bin/env bash
# Installs what the tests need, builds everything with warnings as errors (tools/setup.sh: one
# configuration in build/, so a tree that set-up has built is not built again) and runs every
# test.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"

QIRO7_BUILD_DIR="$build_dir" bash "$root/tools/setup.sh"

cd "$build_dir"
source "$root/tools/lib/unplug-hangs.sh"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --parallel "$(nproc)" --timeout 300 || rerun_if_only_unplug_hangs
