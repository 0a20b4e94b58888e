#!/usr/bin/env bash
# Builds Qt 6 (Core, Gui, Widgets) for Windows x64 from Debian's own source package, static,
# with mingw-w64, so the windows can be cross-built into single-file executables. Debian ships
# no Qt for mingw; the host's Qt of the same version provides moc, rcc and uic.
#
# The result goes to a cache folder outside the checkout and is reused while its stamp (version
# and options) matches: $QIRO7_QT_WINDOWS_DIR, or ~/.cache/qiro7/qt-<version>-mingw64.
# Prints that folder on standard output and nothing else there: its progress goes to standard
# error, so that a caller that takes the folder still shows it. The first build takes about half
# an hour of both cores.
#
# The source is fetched with a private apt list folder, so the machine's own apt configuration
# and package lists stay as they are.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
qt_version=6.4.2
debian_version="${qt_version}+dfsg-10"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/qiro7"
prefix="${QIRO7_QT_WINDOWS_DIR:-$cache_root/qt-${qt_version}-mingw64}"
work="${prefix}.work"

packages=(cmake ninja-build dpkg-dev xz-utils g++-mingw-w64-x86-64-posix
          qt6-base-dev qt6-base-dev-tools)

# Everything the windows and their tests need and nothing else: no OpenGL, SQL, network,
# D-Bus, printing, XML, concurrent or Vulkan. The tablet events need a header that the Debian
# source leaves out, and dynamic GL does not compile in this version once OpenGL is off.
configure_options=(
    -DBUILD_SHARED_LIBS=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
    -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_tabletevent=OFF
)
stamp_text="qt ${debian_version} x86_64-w64-mingw32-posix ${configure_options[*]}"

say() { printf '[build-qt-windows %s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }

source "$root/tools/lib/packages.sh"
source "$root/tools/lib/debian-source.sh"

check_host_qt() {
    local host_version
    host_version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
    if [ "$host_version" != "$debian_version" ]; then
        say "the host Qt is $host_version, but this script builds $debian_version:" \
            "moc, rcc and uic must match the target's version"
        exit 1
    fi
}

configure_qt() {
    say "configuring for x86_64-w64-mingw32 into $prefix"
    cmake -S "$work/source/qtbase" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64-posix.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        "${configure_options[@]}" >"$work/configure.log" 2>&1 || {
        tail -n 40 "$work/configure.log"
        say "configure failed; the whole log is $work/configure.log"
        exit 1
    }
}

# Ninja prints a line per step; a line a minute is enough to show it is alive.
build_qt() {
    local log="$work/build.log" line last_report=$SECONDS
    say "building (about 1,100 steps; progress once a minute, the whole log in $log)"
    set +e
    nice -n 10 cmake --build "$work/build" --parallel "$(nproc)" 2>&1 | tee "$log" |
        while IFS= read -r line; do
            if [[ "$line" == \[*/*\]* ]] && ((SECONDS - last_report >= 60)); then
                say "${line%% *}"
                last_report=$SECONDS
            fi
        done
    local status=${PIPESTATUS[0]}
    set -e
    if [ "$status" -ne 0 ]; then
        grep -A 20 '^FAILED' "$log" | head -n 60
        say "the Qt build failed; the whole log is $log"
        exit 1
    fi
}

main() {
    mkdir -p "$(dirname "$prefix")"
    # One build at a time, whoever asks (a test run and CI on the same machine).
    exec 9>"${prefix}.lock"
    flock 9
    if [ -f "$prefix/qiro7-qt.stamp" ] && [ "$(cat "$prefix/qiro7-qt.stamp")" = "$stamp_text" ]; then
        say "reusing the Qt build in $prefix"
        echo "$prefix"
        return 0
    fi
    build_and_install >&2
    echo "$prefix"
}

build_and_install() {
    install_missing_packages "${packages[@]}"
    check_host_qt
    rm -rf "$prefix" "$work"
    fetch_debian_source qt6-base "$debian_version" "$work" qtbase
    configure_qt
    build_qt
    say "installing"
    cmake --install "$work/build" >"$work/install.log" 2>&1 || {
        tail -n 20 "$work/install.log"
        exit 1
    }
    printf '%s\n' "$stamp_text" >"$prefix/qiro7-qt.stamp"
    # The build folder is a few gigabytes; the installed Qt is all that is needed from now on.
    rm -rf "$work"
    say "done: $(du -sh "$prefix" | cut -f1) in $prefix"
}

main "$@"
