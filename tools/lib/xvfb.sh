# shellcheck shell=bash
# Sourced by the screenshot scripts, never run: the packages they need, and qiro7-demo started
# on a private virtual X display. Expects `set -euo pipefail` from its caller.

xvfb_lib="${BASH_SOURCE[0]}"
# shellcheck source=tools/lib/packages.sh
source "$(dirname "$xvfb_lib")/packages.sh"

# Installs ImageMagick (import), Xvfb and xdotool when any of them is missing.
install_screenshot_tools() {
    install_missing_packages imagemagick xvfb xauth xdotool
}

# Runs the shell code $3 on a fresh virtual display with program $1 already started there
# (and ended when the code ends), in a private runtime folder so that the picture never
# competes with a copy the user is running. The code finds the picture's absolute path (from
# $2) in QIRO7_OUTPUT and may call wait_window; other settings travel in exported variables.
run_on_virtual_display() {
    local program="$1" output="$2" session="$3"
    if [ ! -x "$program" ]; then
        echo "No $program: build first (bash tools/setup.sh)." >&2
        exit 1
    fi
    mkdir -p "$(dirname "$output")"
    QIRO7_OUTPUT="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"
    QIRO7_RUNTIME_DIR="$(mktemp -d)"
    chmod 700 "$QIRO7_RUNTIME_DIR"
    trap 'rm -rf "$QIRO7_RUNTIME_DIR"' EXIT
    export QIRO7_PROGRAM="$program" QIRO7_OUTPUT QIRO7_RUNTIME_DIR QIRO7_XVFB_LIB="$xvfb_lib"
    local prelude='set -euo pipefail
        source "$QIRO7_XVFB_LIB"
        start_program
    '
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c "$prelude$session"
    echo "Saved $QIRO7_OUTPUT"
}

# On the virtual display: starts the program in the background, ended with this shell.
start_program() {
    XDG_RUNTIME_DIR="$QIRO7_RUNTIME_DIR" QT_QPA_PLATFORM=xcb "$QIRO7_PROGRAM" &
    program_pid=$!
    trap 'kill "$program_pid" 2>/dev/null || true' EXIT
}

# The first visible window whose title matches $1, waited for up to $2 seconds (20 by default).
wait_window() {
    local found="" seconds="${2:-20}"
    for _ in $(seq 1 $((seconds * 5))); do
        found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)"
        [ -n "$found" ] && break
        sleep 0.2
    done
    if [ -z "$found" ]; then
        echo "No window \"$1\" appeared." >&2
        exit 1
    fi
    echo "$found"
}
