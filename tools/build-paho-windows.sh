#!/usr/bin/env bash
# Builds Eclipse Paho's MQTT C client for Windows x64 from Debian's own source package, static,
# with mingw-w64 (posix threads), so that qiro7-cli.exe can publish to MQTT brokers. Debian ships
# no Paho for mingw, and no OpenSSL for it: this build has no TLS, so on Windows mqtt:// works
# and mqtts:// is refused as unavailable.
#
# The result goes to a cache folder outside the checkout and is reused while its stamp (version
# and options) matches: $QIRO7_PAHO_WINDOWS_DIR, or ~/.cache/qiro7/paho-<version>-mingw64.
# Prints that folder on standard output and nothing else there: its progress goes to standard
# error. It takes about a minute.
#
# The source is fetched with a private apt list folder, so the machine's own apt configuration
# and package lists stay as they are.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
paho_version=1.3.12
debian_version="${paho_version}-1"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/qiro7"
prefix="${QIRO7_PAHO_WINDOWS_DIR:-$cache_root/paho-${paho_version}-mingw64}"
work="${prefix}.work"

packages=(cmake ninja-build dpkg-dev g++-mingw-w64-x86-64-posix)

# The asynchronous client only, static, without TLS, samples, tests or documentation.
configure_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DPAHO_BUILD_STATIC=TRUE
    -DPAHO_BUILD_SHARED=FALSE
    -DPAHO_WITH_SSL=FALSE
    -DPAHO_ENABLE_TESTING=FALSE
    -DPAHO_BUILD_SAMPLES=FALSE
    -DPAHO_BUILD_DOCUMENTATION=FALSE
)
stamp_text="paho ${debian_version} x86_64-w64-mingw32-posix ${configure_options[*]}"

say() { printf '[build-paho-windows %s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }

source "$root/tools/lib/packages.sh"

fetch_source() {
    local apt_dir="$work/apt"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/source"
    local suite
    suite="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    printf 'deb-src http://deb.debian.org/debian %s main\n' "$suite" >"$apt_dir/sources.list"
    local apt_options=(
        -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
        -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
        -o APT::Sandbox::User=root
    )
    say "fetching the source of paho.mqtt.c $debian_version from Debian's archive"
    apt-get "${apt_options[@]}" -qq update </dev/null
    if ! (cd "$work/source" &&
        apt-get "${apt_options[@]}" -qq source --download-only "paho.mqtt.c=$debian_version" \
            </dev/null >"$work/fetch.log" 2>&1); then
        cat "$work/fetch.log" >&2
        say "Debian's archive did not give the source of paho.mqtt.c $debian_version"
        exit 1
    fi
    say "unpacking with Debian's patches"
    (cd "$work/source" && dpkg-source -x --no-check paho.mqtt.c_*.dsc paho >"$work/unpack.log" 2>&1)
}

build_paho() {
    say "configuring for x86_64-w64-mingw32 into $prefix"
    cmake -S "$work/source/paho" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64-posix.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        "${configure_options[@]}" >"$work/configure.log" 2>&1 || {
        tail -n 40 "$work/configure.log" >&2
        say "configure failed; the whole log is $work/configure.log"
        exit 1
    }
    say "building"
    cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 || {
        grep -A 20 '^FAILED' "$work/build.log" | head -n 60 >&2
        say "the Paho build failed; the whole log is $work/build.log"
        exit 1
    }
    say "installing"
    cmake --install "$work/build" >"$work/install.log" 2>&1 || {
        tail -n 20 "$work/install.log" >&2
        exit 1
    }
}

main() {
    mkdir -p "$(dirname "$prefix")"
    # One build at a time, whoever asks (a test run and CI on the same machine).
    exec 9>"${prefix}.lock"
    flock 9
    if [ -f "$prefix/qiro7-paho.stamp" ] && [ "$(cat "$prefix/qiro7-paho.stamp")" = "$stamp_text" ]; then
        say "reusing the Paho build in $prefix"
        echo "$prefix"
        return 0
    fi
    install_missing_packages "${packages[@]}" >&2
    rm -rf "$prefix" "$work"
    fetch_source
    build_paho
    printf '%s\n' "$stamp_text" >"$prefix/qiro7-paho.stamp"
    rm -rf "$work"
    say "done: $(du -sh "$prefix" | cut -f1) in $prefix"
    echo "$prefix"
}

main "$@"
