#!/usr/bin/env bash
# Builds the two programs and nothing else (no tests, benchmarks or fuzzing) into build-demo/
# (or $QIRO7_DEMO_BUILD_DIR) and starts qiro7-demo, the program on its built-in simulated
# instrument. Installs the Debian packages the build needs when they are missing (through sudo
# when not run as root) and changes no other system setting. The window needs a desktop
# session: without a display the programs are built but not started.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_DEMO_BUILD_DIR:-$root/build-demo}"
source "$root/tools/lib/packages.sh"

started=$SECONDS
say() { printf '[run-demo %3d s] %s\n' "$((SECONDS - started))" "$*"; }

# QT_QPA_PLATFORM chooses a platform that needs no display (offscreen, vnc).
has_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]
}

no_display_note() {
    say "No display: neither DISPLAY nor WAYLAND_DISPLAY is set, so qiro7-demo cannot open" \
        "its window here. Run this script in a terminal of a desktop session, or start" \
        "$build_dir/app/qiro7-demo there later."
}

if ! has_display; then
    no_display_note
fi

say "Checking the Debian packages the build needs: ${qiro7_build_packages[*]}"
install_missing_packages "${qiro7_build_packages[@]}"

say "Configuring the two programs only (no tests, benchmarks or fuzzing) in $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQIRO7_BUILD_TESTS=OFF -DQIRO7_BUILD_BENCH=OFF -DQIRO7_BUILD_FUZZ=OFF \
    -DQIRO7_PRECOMPILE_QT=ON >/dev/null

say "Building qiro7 and qiro7-demo on $(nproc) cores (a few minutes the first time)"
cmake --build "$build_dir" --target qiro7 qiro7-demo --parallel "$(nproc)"

if ! has_display; then
    no_display_note
    exit 1
fi
say "Starting qiro7-demo (simulated instrument); close it with its Quit button"
exec "$build_dir/app/qiro7-demo"
