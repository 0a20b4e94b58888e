#!/usr/bin/env bash
# Builds libmosquitto, the MQTT client library, for Windows x64 from Debian's own source package,
# as a static library with mingw-w64 (posix threads, whose winpthreads the library's threading
# uses), so that qiro7-cli.exe publishes to MQTT brokers with the same library as on Linux.
# Only the library: no broker, clients, plugins, C++ wrapper or documentation. Debian has no
# OpenSSL for mingw, so this build has no TLS: on Windows mqtt:// works and mqtts:// is refused
# as unavailable.
#
# The result goes to a cache folder outside the checkout and is reused while its stamp (version
# and options) matches: $QIRO7_MOSQUITTO_WINDOWS_DIR, or ~/.cache/qiro7/mosquitto-<version>-mingw64,
# with include/mosquitto.h, include/mqtt_protocol.h, lib/libmosquitto_static.a and the licence
# texts in share/doc/mosquitto. Prints that folder on standard output and nothing else there:
# its progress goes to standard error. It takes about a minute.
#
# The source is fetched with a private apt list folder, so the machine's own apt configuration
# and package lists stay as they are.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mosquitto_version=2.0.11
debian_version="${mosquitto_version}-1.2+deb12u2"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/qiro7"
prefix="${QIRO7_MOSQUITTO_WINDOWS_DIR:-$cache_root/mosquitto-${mosquitto_version}-mingw64}"
work="${prefix}.work"

packages=(cmake ninja-build dpkg-dev xz-utils g++-mingw-w64-x86-64-posix)

# The client library only, static, with its threading (the publisher calls it from two threads)
# and its bundled list headers; without TLS, cJSON, SOCKS or SRV lookups.
configure_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DWITH_STATIC_LIBRARIES=ON
    -DWITH_THREADING=ON
    -DWITH_BUNDLED_DEPS=ON
    -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_EC=OFF
    -DWITH_CJSON=OFF -DWITH_SOCKS=OFF -DWITH_SRV=OFF
    -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF
    -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF
)
stamp_text="mosquitto ${debian_version} x86_64-w64-mingw32-posix ${configure_options[*]}"

say() { printf '[build-mosquitto-windows %s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }

source "$root/tools/lib/packages.sh"
source "$root/tools/lib/debian-source.sh"

# Its CMake names a prebuilt pthreads-win32 under C:\pthreads for any Windows build; mingw-w64's
# posix flavour brings winpthreads, which the compiler finds by itself.
use_winpthreads() {
    local file="$work/source/mosquitto/CMakeLists.txt"
    sed -i -e 's|^\(\s*set (PTHREAD_LIBRARIES\) C:\\\\pthreads\\\\.*)$|\1 pthread)|' \
        -e 's|^\(\s*set (PTHREAD_INCLUDE_DIR\) C:\\\\pthreads\\\\.*)$|\1 "")|' "$file"
    if grep -q 'C:\\\\pthreads' "$file"; then
        say "the pthread paths in $file were not replaced"
        exit 1
    fi
}

build_library() {
    say "configuring for x86_64-w64-mingw32"
    cmake -S "$work/source/mosquitto" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64-posix.cmake" \
        "${configure_options[@]}" >"$work/configure.log" 2>&1 || {
        tail -n 40 "$work/configure.log" >&2
        say "configure failed; the whole log is $work/configure.log"
        exit 1
    }
    say "building the static library"
    cmake --build "$work/build" --target libmosquitto_static --parallel "$(nproc)" \
        >"$work/build.log" 2>&1 || {
        grep -A 20 '^FAILED' "$work/build.log" | head -n 60 >&2
        say "the build failed; the whole log is $work/build.log"
        exit 1
    }
}

# The shared library beside it is not built, so its install rules cannot run: the files are
# copied.
install_library() {
    local source="$work/source/mosquitto"
    mkdir -p "$prefix/include" "$prefix/lib" "$prefix/share/doc/mosquitto"
    cp "$source/include/mosquitto.h" "$source/include/mqtt_protocol.h" "$prefix/include/"
    cp "$work/build/lib/libmosquitto_static.a" "$prefix/lib/"
    cp "$source/LICENSE.txt" "$source/edl-v10" "$source/epl-v20" "$prefix/share/doc/mosquitto/"
}

main() {
    mkdir -p "$(dirname "$prefix")"
    # One build at a time, whoever asks (a test run and CI on the same machine).
    exec 9>"${prefix}.lock"
    flock 9
    if [ -f "$prefix/qiro7-mosquitto.stamp" ] &&
        [ "$(cat "$prefix/qiro7-mosquitto.stamp")" = "$stamp_text" ]; then
        say "reusing the libmosquitto build in $prefix"
        echo "$prefix"
        return 0
    fi
    install_missing_packages "${packages[@]}" >&2
    rm -rf "$prefix" "$work"
    fetch_debian_source mosquitto "$debian_version" "$work" mosquitto
    use_winpthreads
    build_library
    install_library
    printf '%s\n' "$stamp_text" >"$prefix/qiro7-mosquitto.stamp"
    rm -rf "$work"
    say "done: $(du -sh "$prefix" | cut -f1) in $prefix"
    echo "$prefix"
}

main "$@"
