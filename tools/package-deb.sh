#!/usr/bin/env bash
# Builds the Debian package of the two programs with CPack (qiro7_<version>_amd64.deb in
# build-deb/, or $QIRO7_DEB_BUILD_DIR), checks it with lintian (an error fails), unpacks it into
# a scratch root with dpkg -x, checks the unpacked menu entries, icon, AppStream data and udev
# rule, and starts the unpacked qiro7-demo on a virtual display until its window is shown.
# Installs the Debian packages it needs when they are missing. Nothing is installed into the
# system: `dpkg -i` of the package is left to the person who wants it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QIRO7_DEB_BUILD_DIR:-$root/build-deb}"
scratch="$build_dir/scratch-root"
source "$root/tools/lib/packages.sh"
source "$root/tools/lib/xvfb.sh"

say() { printf '[package-deb] %s\n' "$*"; }
fail() {
    say "FAILED: $*"
    exit 1
}

install_missing_packages "${qiro7_build_packages[@]}" dpkg-dev file lintian \
    desktop-file-utils appstream xvfb xauth xdotool x11-utils

# Debian's own compiler and linker flags, hardening included. CMake reads no CPPFLAGS, so
# those go with the compiler flags.
build_flags() {
    DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"
}
say "building the two programs in $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DQIRO7_BUILD_TESTS=OFF -DQIRO7_BUILD_BENCH=OFF -DQIRO7_BUILD_FUZZ=OFF \
    -DQIRO7_PRECOMPILE_QT=ON \
    "-DCMAKE_C_FLAGS=$(build_flags CPPFLAGS) $(build_flags CFLAGS)" \
    "-DCMAKE_CXX_FLAGS=$(build_flags CPPFLAGS) $(build_flags CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(build_flags LDFLAGS)" \
    ${QIRO7_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"

say "packing with CPack"
rm -f "$build_dir"/qiro7_*.deb
(cd "$build_dir" && cpack -G DEB >"$build_dir/cpack.log") || {
    cat "$build_dir/cpack.log"
    fail "cpack"
}
debs=("$build_dir"/qiro7_*_amd64.deb)
deb="${debs[0]}"
[ -f "$deb" ] || fail "no qiro7_<version>_amd64.deb was made"
say "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
dpkg-deb --field "$deb" Package Version Architecture Section Maintainer Depends Recommends |
    sed 's/^/    /'

say "lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

say "unpacking into $scratch"
rm -rf "$scratch"
dpkg-deb -x "$deb" "$scratch"
appstream_files=("$scratch"/usr/share/metainfo/*.metainfo.xml)
for path in usr/bin/qiro7 usr/bin/qiro7-demo usr/bin/qiro7-cli usr/share/man/man1/qiro7-cli.1.gz \
    usr/share/applications/qiro7.desktop usr/share/applications/qiro7-demo.desktop \
    usr/share/icons/hicolor/scalable/apps/qiro7.svg usr/lib/udev/rules.d/70-qiro7.rules \
    "${appstream_files[0]#"$scratch"/}"; do
    [ -e "$scratch/$path" ] || fail "/$path is missing"
done

# A menu shows an entry that is valid, whose program is installed and whose icon is found.
for entry in "$scratch"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "$(basename "$entry") is not valid"
    program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
    icon="$(sed -n 's/^Icon=//p' "$entry")"
    [ -x "$scratch/usr/bin/$program" ] || fail "$(basename "$entry") starts $program, not installed"
    [ -f "$scratch/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
        fail "$(basename "$entry") shows icon $icon, not installed"
    say "$(basename "$entry"): valid; $(sed -n 's/^Name=//p' "$entry") runs /usr/bin/$program"
done
appstreamcli validate --no-net "${appstream_files[0]}" >/dev/null ||
    fail "$(basename "${appstream_files[0]}") is not valid"
say "$(basename "${appstream_files[0]}"): valid"
if ldd "$scratch"/usr/bin/qiro7* | grep 'not found'; then
    fail "a library the programs need is not installed here"
fi
"$scratch/usr/bin/qiro7-cli" info --demo >/dev/null || fail "the unpacked qiro7-cli info --demo failed"
say "the unpacked qiro7-cli reads the simulated instrument"

# The title, as a pattern for xdotool: the package's version, and the simulated instrument.
version="$(dpkg-deb --field "$deb" Version)"
export QIRO7_TITLE_PATTERN="^QIRO-7 ver ${version//./\\.} \\[simulated instrument\\]\$"
say "starting the unpacked qiro7-demo on a virtual display"
run_on_virtual_display "$scratch/usr/bin/qiro7-demo" "$build_dir/installed-demo-window.txt" '
    window="$(wait_window "$QIRO7_TITLE_PATTERN")"
    xprop -id "$window" WM_NAME WM_CLASS >"$QIRO7_OUTPUT"
    xprop -id "$window" _NET_WM_ICON | sed -n 1p >>"$QIRO7_OUTPUT"
'
sed 's/^/    /' "$build_dir/installed-demo-window.txt"
grep -q '^_NET_WM_ICON(CARDINAL) = ' "$build_dir/installed-demo-window.txt" ||
    fail "the window has no icon"
say "done: $deb"
