#!/usr/bin/env bash
# Prepares this machine for development and builds everything with the test configuration:
# installs the Debian packages that building, testing, fuzzing and the virtual-display tests
# need (only those missing) and the comma-decimal locale the number rules are tested under,
# then configures build/ (or $QIRO7_BUILD_DIR) with warnings as errors and builds every target.
# tools/test.sh runs this same configuration, so after this it rebuilds nothing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_BUILD_DIR:-$root/build}"
source "$root/tools/lib/packages.sh"

test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev
    # graph_bench's QtCharts peer; Qt Charts' CMake files need Qt OpenGL's, packaged apart
    qt6-charts-dev libqt6opengl6-dev
    xvfb xauth xdotool fonts-dejavu-core locales
    umockdev libumockdev-dev dbus-daemon at-spi2-core
    clang libclang-rt-14-dev
    # the MQTT tests: a real broker, its clients, certificates made at test time, the README's
    # Python consumer; and the JSON outputs checked against their schemas
    mosquitto mosquitto-clients openssl python3-paho-mqtt python3-jsonschema
    # the shell completion of qiro7-cli is checked by zsh itself
    zsh
)
install_missing_packages "${qiro7_build_packages[@]}" "${test_packages[@]}"

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "Generating the de_DE.UTF-8 locale for the tests (/etc/locale.gen)"
    as_root sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    as_root locale-gen >/dev/null
fi

cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="${QIRO7_BUILD_TYPE:-RelWithDebInfo}" -DQIRO7_WERROR=ON \
    ${QIRO7_CMAKE_ARGS:-}
cmake --build "$build_dir" --parallel "$(nproc)"
