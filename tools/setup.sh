#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and
# builds the program and its tests into build/ (or $QIRO7_BUILD_DIR).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libusb-1.0-0-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
    # graph_bench's QtCharts peer; Qt Charts' CMake files need Qt OpenGL's, packaged apart
    qt6-charts-dev libqt6opengl6-dev
    xvfb xauth xdotool fonts-dejavu-core locales
    umockdev libumockdev-dev dbus-daemon at-spi2-core
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The number rules are tested under a comma-decimal locale as well.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    as_root sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    as_root locale-gen >/dev/null
fi

cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="${QIRO7_BUILD_TYPE:-RelWithDebInfo}" \
    ${QIRO7_CMAKE_ARGS:-}
cmake --build "$build_dir" --parallel "$(nproc)"
