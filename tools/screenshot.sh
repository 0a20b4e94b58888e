#!/usr/bin/env bash
# Starts qiro7-demo on a virtual X display, waits for its main window and saves a picture of
# it (default docs/main-window.png). Needs a build (tools/setup.sh); installs ImageMagick,
# which only this script uses, when it is missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/main-window.png}"
program="$build_dir/app/qiro7-demo"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
command -v import >/dev/null || missing+=(imagemagick)
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v xdotool >/dev/null || missing+=(xdotool)
if [ "${#missing[@]}" -gt 0 ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -x "$program" ]; then
    echo "No $program: build first (bash tools/setup.sh)." >&2
    exit 1
fi

mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"

# A private runtime folder: the picture never competes with a copy the user is running.
runtime_dir="$(mktemp -d)"
chmod 700 "$runtime_dir"
trap 'rm -rf "$runtime_dir"' EXIT

export QIRO7_PROGRAM="$program" QIRO7_OUTPUT="$output" QIRO7_RUNTIME_DIR="$runtime_dir"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c '
    set -euo pipefail
    XDG_RUNTIME_DIR="$QIRO7_RUNTIME_DIR" QT_QPA_PLATFORM=xcb "$QIRO7_PROGRAM" &
    program_pid=$!
    trap "kill $program_pid 2>/dev/null || true" EXIT
    window=""
    for _ in $(seq 1 100); do
        window="$(xdotool search --onlyvisible --name "^QIRO-7 ver " 2>/dev/null | head -n 1 || true)"
        [ -n "$window" ] && break
        sleep 0.2
    done
    if [ -z "$window" ]; then
        echo "The main window did not appear." >&2
        exit 1
    fi
    sleep 1  # let the first paint finish
    import -window "$window" "$QIRO7_OUTPUT"
'
echo "Saved $output"
