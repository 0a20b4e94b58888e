#!/usr/bin/env bash
# Starts qiro7-demo on a virtual X display, waits for its main window and saves a picture of
# it (default docs/main-window.png). Needs a build (tools/setup.sh); installs ImageMagick,
# Xvfb and xdotool when they are missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/main-window.png}"
program="$build_dir/app/qiro7-demo"

source "$root/tools/lib/xvfb.sh"
install_screenshot_tools
run_on_virtual_display "$program" "$output" '
    window="$(wait_window "^QIRO-7 ver ")"
    sleep 1  # let the first paint finish
    import -window "$window" "$QIRO7_OUTPUT"
'
