#!/usr/bin/env bash
# qiro7-demo.exe as a Windows user sees it: under Wine, on a private virtual X display, with
# Qt's Windows platform. Checks that its main window appears with its title, that a second copy
# is refused with its message and exit code 1, and that Connect ends in "Connection
# established."; saves a picture of the window with that box ($QIRO7_WINDOWS_PICTURE, by default
# windows-demo.png beside the program). Box texts are read through the clipboard: a message box
# copies its text on Ctrl+C.
#
# Usage: windows-smoke.sh <path of qiro7-demo.exe>, with the Wine prefix of
# tools/test-windows.sh in WINEPREFIX (and its other Wine settings) exported.
set -euo pipefail

if [ "${1:-}" != "--on-display" ]; then
    demo="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
    picture="${QIRO7_WINDOWS_PICTURE:-$(dirname "$demo")/windows-demo.png}"
    # Wine's processes take their display when they start: begin with none running.
    wineserver -k 2>/dev/null || true
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
        bash "${BASH_SOURCE[0]}" --on-display "$demo" "$picture"
    exit
fi

demo="$2"
picture="$3"
logs="$(dirname "$demo")"
source "$(dirname "${BASH_SOURCE[0]}")/lib/xvfb.sh"
# Wine's first start of a process on a new display takes a while.
window_wait_s=60
trap 'wineserver -k 2>/dev/null || true' EXIT

fail() {
    echo "windows-smoke: $*" >&2
    exit 1
}

# The text of the message box $1, then the box closed with its default button.
take_box_text() {
    xdotool windowfocus --sync "$1"
    xdotool key ctrl+c
    sleep 0.5
    xclip -o -selection clipboard | tr -d '\r'
}

close_box() {
    xdotool windowfocus --sync "$1"
    xdotool key Return
}

wine "$demo" >"$logs/windows-smoke-first.log" 2>&1 &
main="$(wait_window '^QIRO-7 ver [0-9.]* \[simulated instrument\]$' "$window_wait_s")" ||
    fail "the main window did not appear"
echo "main window: $(xdotool getwindowname "$main")"

second_status=0
wine "$demo" >"$logs/windows-smoke-second.log" 2>&1 &
second=$!
refusal="$(wait_window '^qiro7-demo$' "$window_wait_s")" || fail "a second copy showed no box"
refusal_text="$(take_box_text "$refusal")"
grep -qF "Multiple launches of this application is not allowed." <<<"$refusal_text" ||
    fail "the second copy's box said: $refusal_text"
close_box "$refusal"
wait "$second" || second_status=$?
[ "$second_status" -eq 1 ] || fail "the second copy ended with $second_status, not 1"
echo "second copy: refused with its message, exit code 1"

# Connect has the focus when the window opens.
xdotool windowfocus --sync "$main"
xdotool key space
connected="$(wait_window '^QIRO-7$' "$window_wait_s")" || fail "Connect showed no box"
sleep 1  # the window behind the box finishes painting
import -window root -crop "$(xdotool getwindowgeometry --shell "$main" |
    awk -F= '/^WIDTH/{w=$2} /^HEIGHT/{h=$2} /^X/{x=$2} /^Y/{y=$2} END{print w"x"h"+"x"+"y}')" \
    "$picture"
connect_text="$(take_box_text "$connected")"
grep -qF "Connection established." <<<"$connect_text" || fail "Connect's box said: $connect_text"
echo "Connect: \"Connection established.\" (picture: $picture)"
