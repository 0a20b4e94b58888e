#!/usr/bin/env bash
# Sets everything up and starts the program on its built-in simulated instrument.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"

QIRO7_BUILD_DIR="$build_dir" bash "$root/tools/setup.sh"
exec "$build_dir/app/qiro7-demo"
