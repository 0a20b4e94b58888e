#!/usr/bin/env bash
# Starts qiro7-demo on a virtual X display, connects to the simulated instrument, starts a run
# with "Graph" ticked and saves a picture of the graph window mid-run (default
# docs/graph-window.png). Needs a build (tools/setup.sh) and what tools/screenshot.sh installs.
# Controls are clicked at their template positions, converted with the main window's own size.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/graph-window.png}"
program="$build_dir/app/qiro7-demo"
run_seconds="${QIRO7_RUN_SECONDS:-12}"

for tool in import xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "No $tool: run tools/screenshot.sh once, which installs it." >&2
        exit 1
    fi
done
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
export QIRO7_RUN_SECONDS="$run_seconds"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c '
    set -euo pipefail
    XDG_RUNTIME_DIR="$QIRO7_RUNTIME_DIR" QT_QPA_PLATFORM=xcb "$QIRO7_PROGRAM" &
    program_pid=$!
    trap "kill $program_pid 2>/dev/null || true" EXIT

    # The first visible window whose title matches, waited for up to 20 s.
    wait_window() {
        local found=""
        for _ in $(seq 1 100); do
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

    # Clicks the middle of a main-window control given in dialog units (x y width height).
    click_control() {
        local px py
        px=$(awk -v x="$1" -v w="$3" -v b="$base_x" "BEGIN { printf \"%d\", (x + w / 2) * b / 4 }")
        py=$(awk -v y="$2" -v h="$4" -v b="$base_y" "BEGIN { printf \"%d\", (y + h / 2) * b / 8 }")
        xdotool mousemove --window "$main" "$px" "$py" click 1
        sleep 0.5
    }

    # Answers the message box now showing with its default button (OK, or Yes).
    answer_box() {
        local box
        box="$(wait_window "^QIRO-7\$")"
        xdotool windowfocus --sync "$box"
        xdotool key Return
        sleep 0.5
    }

    main="$(wait_window "^QIRO-7 ver ")"
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$main")"
    base_x=$(awk -v w="$WIDTH" "BEGIN { print w * 4 / 530 }")
    base_y=$(awk -v h="$HEIGHT" "BEGIN { print h * 8 / 362 }")

    click_control 473 22 50 14   # Connect
    answer_box                   # "Connection established."
    click_control 22 263 35 10   # Graph
    click_control 450 336 50 14  # start/stop
    answer_box                   # "Are you sure you want to start measurement?"

    graph="$(wait_window "^Irradiance")"
    sleep "$QIRO7_RUN_SECONDS"
    import -window "$graph" "$QIRO7_OUTPUT"
'
echo "Saved $output"
