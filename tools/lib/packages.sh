# shellcheck shell=bash
# Sourced by the scripts in tools/, never run: the Debian packages that building the two
# programs needs, and the one way the scripts install what is missing.

# Compiler, build tools and libraries for qiro7, qiro7-demo and qiro7-cli (CLI11 parses its
# arguments, nlohmann-json writes its JSON, libmosquitto publishes to MQTT brokers, over TLS
# too, zlib checks the MQTT spool's records), and Qt's SVG icon engine for the window icon.
# Nothing that only the tests use.
# shellcheck disable=SC2034  # read by the scripts that source this file
qiro7_build_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libusb-1.0-0-dev libqt6svg6 libcli11-dev nlohmann-json3-dev libmosquitto-dev
    zlib1g-dev
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given packages that are not installed yet, and says which.
install_missing_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "Installing ${#missing[@]} Debian packages with apt-get (as root): ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}
