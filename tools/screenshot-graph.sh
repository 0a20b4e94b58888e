#!/usr/bin/env bash
# Starts qiro7-demo on a virtual X display, connects to the simulated instrument, starts a run
# with "Graph" ticked and saves pictures of the graph window and of the main window mid-run
# (default docs/graph-window.png and docs/main-window-run.png). Needs a build (tools/setup.sh);
# installs ImageMagick, Xvfb and xdotool when they are missing.
# Controls are clicked at their template positions, converted with the main window's own size.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/graph-window.png}"
main_output="${2:-$root/docs/main-window-run.png}"
mkdir -p "$(dirname "$main_output")"
QIRO7_MAIN_OUTPUT="$(cd "$(dirname "$main_output")" && pwd)/$(basename "$main_output")"
export QIRO7_MAIN_OUTPUT
program="$build_dir/app/qiro7-demo"
export QIRO7_RUN_SECONDS="${QIRO7_RUN_SECONDS:-12}"

source "$root/tools/lib/xvfb.sh"
install_screenshot_tools
run_on_virtual_display "$program" "$output" '
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
    # The graph window covers part of the main window; out of the way, the run goes on.
    xdotool windowunmap --sync "$graph"
    sleep 1
    import -window "$main" "$QIRO7_MAIN_OUTPUT"
'
