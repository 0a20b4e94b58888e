#!/usr/bin/env bash
# Cross-builds everything for Windows x64 in Release (mingw-w64, static runtime, a static Qt
# built by tools/build-qt-windows.sh): qiro7.exe, qiro7-demo.exe and every test suite. Runs each
# test executable once under Wine, headless (the window suites on Qt's offscreen platform), makes
# the zip a Windows user gets and starts the zipped qiro7-demo.exe on a virtual X display with
# Qt's Windows platform (tools/windows-smoke.sh). Installs the Debian packages it needs when they are missing. Needs
# no display and no standard input.
#
# Build folder: build-win/ in the repository, or $QIRO7_WIN_BUILD_DIR. The Wine prefix lives
# inside it. Closing line: "windows: N passed, N failed, N skipped"; the exit status is non-zero
# when any test failed, any suite did not finish or the program's own check failed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_WIN_BUILD_DIR:-$root/build-win}"
suite_timeout_s=300

source "$root/tools/lib/packages.sh"
packages=(cmake ninja-build googletest libcli11-dev nlohmann-json3-dev g++-mingw-w64-x86-64-posix
          libz-mingw-w64-dev wine wine64 fonts-wine
          fonts-dejavu-core xvfb xauth xdotool xclip imagemagick unzip)

build() {
    local qt_dir mosquitto_dir mosquitto_args=()
    qt_dir="$(bash "$root/tools/build-qt-windows.sh" | tail -n 1)"
    # Without libmosquitto for Windows the programs build all the same, qiro7-cli.exe refuses to
    # publish to MQTT brokers, saying why, and the MQTT check below fails.
    if mosquitto_dir="$(bash "$root/tools/build-mosquitto-windows.sh" | tail -n 1)" &&
        [ -n "$mosquitto_dir" ]; then
        mosquitto_args=(-DQIRO7_MOSQUITTO_WINDOWS_DIR="$mosquitto_dir")
    else
        echo "libmosquitto for Windows could not be built: the Windows programs have no MQTT client"
    fi
    cmake -S "$root" -B "$build_dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64-posix.cmake" \
        -DCMAKE_BUILD_TYPE="${QIRO7_BUILD_TYPE:-Release}" \
        -DQIRO7_QT_WINDOWS_DIR="$qt_dir" "${mosquitto_args[@]}" \
        -DQIRO7_WERROR=ON ${QIRO7_CMAKE_ARGS:-}
    cmake --build "$build_dir" --parallel "$(nproc)"
}

# Fonts as a Windows desktop has them: Wine ships Tahoma but does not put it in a new prefix,
# and Qt looks a font up by its own name, not through the system's substitutes, so the dialog
# font and the sans fallback get names of their own. The offscreen platform reads fonts from
# one folder only. (Wine hands no QT_* variable of the Unix environment to a program, hence
# the prefix's own environment.)
set_up_prefix_fonts() {
    cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    local replacements='HKCU\Software\Wine\Fonts\Replacements'
    wine reg add "$replacements" /v "MS Shell Dlg" /d Tahoma /f >/dev/null 2>&1
    wine reg add "$replacements" /v "Arial" /d "DejaVu Sans" /f >/dev/null 2>&1
    wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR \
        /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null 2>&1
}

start_wine() {
    export WINEPREFIX="$build_dir/wineprefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    # No Mono or Gecko: their installers would ask for a download.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$WINEPREFIX"
    # One server for the whole run, so each suite starts quickly and children share it.
    if ! wineserver -p; then
        echo "wineserver did not start for $WINEPREFIX"
        return 1
    fi
    trap 'wineserver -k 2>/dev/null || true' EXIT
    # A new prefix is made on the first boot; that has been seen to fail once on a busy machine,
    # so it gets a second chance before the run gives up.
    local attempt
    for attempt in 1 2; do
        if wineboot -i >"$build_dir/wineboot.log" 2>&1 </dev/null; then
            set_up_prefix_fonts
            return 0
        fi
        echo "wineboot failed (attempt $attempt):"
        tail -n 20 "$build_dir/wineboot.log"
    done
    return 1
}

# The count on gtest's summary line of the given pattern, or nothing when it is missing.
summary_count() {
    local pattern="$1" log="$2"
    sed -n "s/^${pattern}.*/\1/p" "$log" | tail -n 1
}

run_suites() {
    local suites=() exe name log status ran passed failed skipped
    mapfile -t suites < <(find "$build_dir/tests" -name '*_tests.exe' -type f | sort)
    if [ "${#suites[@]}" -eq 0 ]; then
        echo "No Windows test executable was built."
        total_failed=$((total_failed + 1))
        return 1
    fi
    mkdir -p "$build_dir/test-logs"
    local broken=0
    for exe in "${suites[@]}"; do
        name="$(basename "$exe" .exe)"
        log="$build_dir/test-logs/$name.log"
        status=0
        (cd "$(dirname "$exe")" &&
            timeout "$suite_timeout_s" wine "$exe" --gtest_brief=1 --gtest_color=no) \
            >"$log" 2>&1 </dev/null || status=$?
        sed -i 's/\r$//' "$log"  # Wine's console writes CR LF
        ran="$(summary_count '\[==========\] \([0-9][0-9]*\) tests\{0,1\} from' "$log")"
        passed="$(summary_count '\[  PASSED  \] \([0-9][0-9]*\) test' "$log")"
        skipped="$(summary_count '\[  SKIPPED \] \([0-9][0-9]*\) test' "$log")"
        passed="${passed:-0}"
        skipped="${skipped:-0}"
        if [ -z "$ran" ]; then
            # Crashed, hung or refused to start: the suite as a whole counts as one failure.
            failed=1
            broken=$((broken + 1))
            echo "$name: ended with status $status before reporting a result (log: $log)"
            tail -n 20 "$log"
        else
            failed=$((ran - passed - skipped))
            if [ "$failed" -eq 0 ] && [ "$status" -ne 0 ]; then
                failed=1
                broken=$((broken + 1))
                echo "$name: all tests passed but it ended with status $status (log: $log)"
            elif [ "$failed" -gt 0 ]; then
                grep -E -A8 'Failure$' "$log" | head -n 80 || true
            fi
        fi
        echo "$name: $passed passed, $failed failed, $skipped skipped"
        total_passed=$((total_passed + passed))
        total_failed=$((total_failed + failed))
        total_skipped=$((total_skipped + skipped))
    done
    [ "$total_failed" -eq 0 ] && [ "$broken" -eq 0 ]
}

# The zip a Windows user gets, unpacked as they would unpack it.
make_package() {
    (cd "$build_dir" && cpack >"$build_dir/cpack.log" 2>&1) || {
        tail -n 20 "$build_dir/cpack.log"
        return 1
    }
    local zip
    zip="$(find "$build_dir" -maxdepth 1 -name 'qiro7-*-win64.zip' | head -n 1)"
    rm -rf "$build_dir/unpacked"
    unzip -q "$zip" -d "$build_dir/unpacked"
    unpacked_demo="$(find "$build_dir/unpacked" -name qiro7-demo.exe | head -n 1)"
    echo "package: $(basename "$zip"): $(unzip -Z1 "$zip" | grep -v '/$' | xargs -n1 basename | tr '\n' ' ')"
}

# The zipped qiro7-cli.exe as a script on Windows runs it: a short run on the simulated
# instrument, whose samples must reach standard output as the CSV file holds them, each line
# ending in one CR LF.
zipped_cli_works() {
    local cli out="$build_dir/cli-measure.csv"
    cli="$(dirname "$unpacked_demo")/qiro7-cli.exe"
    if [ ! -f "$cli" ]; then
        echo "qiro7-cli.exe is not in the zip"
        return 1
    fi
    # The version and product name come from the executable's own version resource.
    local version version_text
    version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")"
    version_text="$(wine "$cli" --version 2>/dev/null </dev/null | tr -d '\r')"
    if [ -z "$version" ] || [[ "$version_text" != *" $version "* ]] ||
        [[ "$version_text" != *"(QIRO-7)"* ]]; then
        echo "qiro7-cli.exe --version printed '$version_text', without version $version or (QIRO-7)"
        return 1
    fi
    if ! wine "$cli" measure --demo --demo-fast-clock --interval 0 --count 5 \
        >"$out" 2>"$build_dir/cli-measure.log" </dev/null; then
        cat "$build_dir/cli-measure.log"
        return 1
    fi
    local lines csv_lines
    lines="$(wc -l <"$out")"
    csv_lines="$(grep -c -E $'^[^,\r]+,[^,\r]+,[^,\r]+\r$' "$out" || true)"
    if [ "$lines" -ne 5 ] || [ "$csv_lines" -ne 5 ]; then
        echo "qiro7-cli.exe measure wrote $lines lines, $csv_lines of them CSV lines ending in CR LF:"
        od -c "$out" | head -n 20
        return 1
    fi
}

# Debian puts the broker in /usr/sbin, which a user's PATH leaves out.
mosquitto_program() {
    command -v mosquitto || { [ -x /usr/sbin/mosquitto ] && echo /usr/sbin/mosquitto; }
}

# A loopback port nothing listens on.
free_port() {
    local port
    while true; do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
    done
    echo "$port"
}

# The zipped qiro7-cli.exe publishes to a mosquitto of the check's own on a free loopback port:
# the 20 samples of a run on the simulated instrument reach mosquitto_sub over mqtt://, and
# mqtts:// (this build has no TLS) ends with exit status 11 and says so.
zipped_cli_publishes() {
    local cli work port spool broker_pid subscriber_pid status=0 arrived=0
    cli="$(dirname "$unpacked_demo")/qiro7-cli.exe"
    work="$build_dir/mqtt-check"
    rm -rf "$work"
    mkdir -p "$work"
    port="$(free_port)"
    printf 'user %s\nlistener %s 127.0.0.1\nallow_anonymous true\n' "$(id -un)" "$port" \
        >"$work/mosquitto.conf"
    "$(mosquitto_program)" -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 50); do
        mosquitto_pub -h 127.0.0.1 -p "$port" -t wine/probe -m x 2>/dev/null && break
        sleep 0.1
    done
    mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'wine/#' -v -W 300 >"$work/received" 2>&1 &
    subscriber_pid=$!
    # The subscription is in place once a probe comes back through it.
    for _ in $(seq 50); do
        mosquitto_pub -h 127.0.0.1 -p "$port" -t wine/probe -m x 2>/dev/null || true
        grep -q '^wine/probe ' "$work/received" && break
        sleep 0.1
    done
    spool="$(winepath -w "$work/spool" 2>/dev/null)"
    if ! wine "$cli" measure --demo --demo-fast-clock --interval 0 --count 20 \
        --mqtt "mqtt://127.0.0.1:$port/wine" --spool "$spool" \
        >/dev/null 2>"$work/cli.log" </dev/null; then
        echo "qiro7-cli.exe measure --mqtt mqtt:// failed:"
        cat "$work/cli.log"
        status=1
    fi
    for _ in $(seq 100); do
        arrived="$(grep -c '^wine/sample ' "$work/received" || true)"
        [ "$arrived" -ge 20 ] && break
        sleep 0.1
    done
    if [ "$arrived" -ne 20 ]; then
        echo "mosquitto_sub received $arrived samples of the 20 published"
        status=1
    fi
    local tls_status=0
    wine "$cli" measure --demo --demo-fast-clock --interval 0 --count 1 \
        --mqtt "mqtts://127.0.0.1:$port/wine" --spool "$spool" \
        >/dev/null 2>"$work/cli-tls.log" </dev/null || tls_status=$?
    sed -i 's/\r$//' "$work/cli-tls.log"
    if [ "$tls_status" -ne 11 ] || ! grep -q 'no TLS' "$work/cli-tls.log"; then
        echo "qiro7-cli.exe with mqtts:// ended with $tls_status (not 11) or did not say why:"
        cat "$work/cli-tls.log"
        status=1
    fi
    kill "$subscriber_pid" "$broker_pid" 2>/dev/null || true
    wait "$subscriber_pid" "$broker_pid" 2>/dev/null || true
    return "$status"
}

# One check of the packaged programs, counted with the tests: passed when the command given
# succeeds.
count_program_check() {
    local name="$1"
    shift
    if "$@"; then
        total_passed=$((total_passed + 1))
        echo "$name: passed"
    else
        total_failed=$((total_failed + 1))
        echo "$name: failed"
    fi
}

zipped_demo_works() {
    make_package && bash "$root/tools/windows-smoke.sh" "$unpacked_demo"
}

# The packaged programs themselves count as three more tests.
run_program_check() {
    count_program_check "qiro7-demo.exe from the zip on a virtual display" zipped_demo_works
    count_program_check "qiro7-cli.exe from the zip, five samples to standard output" \
        zipped_cli_works
    if [ -z "$(mosquitto_program)" ] || ! command -v mosquitto_sub >/dev/null; then
        total_skipped=$((total_skipped + 1))
        echo "qiro7-cli.exe from the zip over MQTT: skipped (mosquitto and mosquitto-clients are not installed)"
    else
        count_program_check \
            "qiro7-cli.exe from the zip, 20 samples to a broker over mqtt://, mqtts:// refused" \
            zipped_cli_publishes
    fi
}

# The Linux suites that are not built for Windows, and why.
not_for_windows=(
    "usb_libusb_tests, usb_cli_tests, usb_program_smoke_test (umockdev is Linux only)"
    "cli_program_tests (they start qiro7-cli as a POSIX child process and send it signals; the zipped qiro7-cli.exe check stands in)"
)

install_missing_packages "${packages[@]}"
build
if ! start_wine; then
    echo "windows: 0 passed, 1 failed"
    exit 1
fi
total_passed=0 total_failed=0 total_skipped=0
status=0
run_suites || status=1
run_program_check
printf 'not built for Windows: %s\n' "${not_for_windows[@]}"
echo "windows: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$status" -eq 0 ] && [ "$total_failed" -eq 0 ]
