#!/usr/bin/env bash
# Builds the Debian package of the two programs with CPack (qiro7_<version>_amd64.deb in
# build-deb/, or $QIRO7_DEB_BUILD_DIR), checks it with lintian (an error fails), unpacks it into
# a scratch root with dpkg -x, checks the unpacked menu entries, icon, AppStream data, udev rule
# and logging service (systemd-analyze verify, and a security exposure no worse than
# $max_exposure below), and starts the unpacked qiro7-demo on a virtual display until its window
# is shown.
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
    desktop-file-utils appstream xvfb xauth xdotool x11-utils systemd man-db umockdev

# The logging service's exposure as `systemd-analyze security` rates it (0 to 10, lower is
# better); the check fails above it, so no change weakens the sandbox unnoticed. Lower it when
# the unit gets tighter.
max_exposure=1.5

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

# systemd-analyze checks the unpacked unit in a root of its own: the package's files beside the
# units of this machine's systemd, which the service's dependencies name. verify also checks that
# ExecStart's program and the manual page of Documentation= are there; it warns about a setting
# it cannot parse and carries on, so any word from it fails the check.
check_logging_service() {
    local unit=qiro7-logger.service root="$build_dir/unit-check-root" report exposure
    rm -rf "$root"
    mkdir -p "$root/lib/systemd"
    cp -a /usr/lib/systemd/system "$root/lib/systemd/"
    cp -al "$scratch/." "$root/"
    report="$(MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1)" ||
        fail "systemd-analyze verify: $report"
    [ -z "$report" ] || fail "systemd-analyze verify: $report"
    say "$unit: systemd-analyze verify passes"
    report="$(systemd-analyze security --offline=yes --root="$root" "$unit" 2>&1)" || true
    exposure="$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' <<<"$report")"
    [ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level: $report"
    say "$unit: security exposure $exposure (at most $max_exposure)"
    awk -v got="$exposure" -v most="$max_exposure" 'BEGIN { exit !(got <= most) }' ||
        fail "$unit: exposure $exposure is worse than $max_exposure"
}

# The unpacked udev rule as udev applies it to a USB device that umockdev emulates: a QIRO-7 gets
# the group qiro7 with mode 0660, the seat user's access and the device unit name the logging
# service is enabled into, but no SYSTEMD_WANTS (which would start it while disabled); another
# device gets none of that. udevadm comes from Debian's udev
# package, unpacked only: installing it would start a udev daemon.
check_udev_rule() {
    local dir="$build_dir/udev-check" product report
    rm -rf "$dir/rules" "$dir/udev"
    mkdir -p "$dir/rules"
    # Downloaded once per build folder.
    compgen -G "$dir/udev_*.deb" >/dev/null ||
        (cd "$dir" && apt-get download udev >/dev/null 2>&1) ||
        (as_root apt-get update -qq && cd "$dir" && apt-get download udev >/dev/null 2>&1) ||
        fail "apt-get download udev failed"
    dpkg-deb -x "$dir"/udev_*.deb "$dir/udev"
    cp "$dir/udev/lib/udev/rules.d/50-udev-default.rules" \
        "$scratch/usr/lib/udev/rules.d/70-qiro7.rules" "$dir/rules/"
    cp /etc/group "$dir/group"
    echo "qiro7:x:64999:" >>"$dir/group"
    for product in "QIRO-7 Controller" "Other device"; do
        printf '%s\n' "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1" "N: bus/usb/001/002" \
            "E: SUBSYSTEM=usb" "E: DEVTYPE=usb_device" "E: DEVNAME=/dev/bus/usb/001/002" \
            "A: busnum=1" "A: devnum=2" "A: dev=189:1" "A: product=$product" >"$dir/device.umockdev"
        report="$(unshare --mount --propagation private sh -c '
            mount -t tmpfs tmpfs /run && mkdir /run/udev && cp -r "$1/rules" /run/udev/rules.d &&
            mount --bind "$1/group" /etc/group &&
            umockdev-run --device "$1/device.umockdev" -- "$1/udev/bin/udevadm" test \
                --action=add /sys/devices/pci0000:00/0000:00:14.0/usb1/1-1' _ "$dir" 2>&1)" ||
            fail "udevadm test failed: $report"
        if [ "$product" = "QIRO-7 Controller" ]; then
            grep -q '70-qiro7.rules:[0-9]* GROUP 64999$' <<<"$report" &&
                grep -q '70-qiro7.rules:[0-9]* MODE 0660$' <<<"$report" &&
                grep -qx 'SYSTEMD_ALIAS=/dev/qiro7' <<<"$report" &&
                ! grep -q '^SYSTEMD_WANTS=' <<<"$report" &&
                grep -q '^TAGS=.*:uaccess:' <<<"$report" &&
                grep -q '^TAGS=.*:systemd:' <<<"$report" ||
                fail "70-qiro7.rules did not mark the instrument: $report"
        elif grep -q '70-qiro7.rules:[0-9]\|^SYSTEMD_ALIAS=' <<<"$report"; then
            fail "70-qiro7.rules marked another device: $report"
        fi
    done
    say "70-qiro7.rules: the instrument gets group qiro7, mode 0660, uaccess and dev-qiro7.device"
}

# The installed package run as a machine would run it: `dpkg -i` into an overlay of this
# machine's root (its changes go when the mount namespace ends), the service enabled, then started
# by a systemd of its own, PID 1 of a new PID namespace, that knows only the units the service
# needs. So the maintainer scripts, the user, the sandbox, the settings file and the data folder
# meet as on a real boot; the simulated instrument stands in for USB. A pattern with systemd's own
# specifiers (%m, %d, %H) and a space must reach qiro7-cli as written. Needs root, and a PID 1
# that is not systemd (a container, or CI): elsewhere it says that it was skipped.
run_logging_service() {
    local work="$build_dir/service-run" cgroups_before status=0
    if [ "$(id -u)" -ne 0 ] || [ "$(ps -o comm= -p 1)" = systemd ]; then
        say "qiro7-logger.service under systemd: skipped (needs root, PID 1 not systemd)"
        return 0
    fi
    rm -rf "$work"
    mkdir -p "$work/upper" "$work/work" "$work/root"
    cgroups_before="$(find /sys/fs/cgroup -mindepth 2 -maxdepth 2 -type d | sort)"
    unshare --mount --propagation private bash -c "$(declare -f service_run_inside); \
        service_run_inside \"\$@\"" _ "$work" "$deb" >"$work/log.txt" 2>&1 ||
        status=$?
    # The private systemd leaves its control groups behind in the shared hierarchies; they can go
    # once its killed processes have left them.
    local group left
    for _ in $(seq 20); do
        left="$(comm -13 <(echo "$cgroups_before") \
            <(find /sys/fs/cgroup -mindepth 2 -maxdepth 2 -type d | sort))"
        [ -n "$left" ] || break
        while read -r group; do
            find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
        done <<<"$left"
        sleep 0.2
    done
    if [ "$status" -ne 0 ]; then
        sed 's/^/    /' "$work/log.txt"
        fail "qiro7-logger.service did not run as installed (the last command above failed)"
    fi
    say "qiro7-logger.service: installed, enabled, run under systemd, purged; it wrote:"
    sed -n 's/^wrote: /    /p' "$work/log.txt"
}

# Runs in the private mount namespace; $1 the work folder, $2 the package.
service_run_inside() {
    set -euxo pipefail
    local work="$1" deb="$2" root="$1/root" pid1="" state="" properties
    trap '[ -z "${pid1:-}" ] || kill -9 "$pid1"' EXIT
    mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$root"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    mount -t tmpfs tmpfs "$root/run"
    mount -t tmpfs tmpfs "$root/tmp"
    cp "$deb" "$root/tmp/qiro7.deb"
    in_root() { chroot "$root" "$@"; }

    in_root dpkg -i /tmp/qiro7.deb >/dev/null
    in_root getent passwd qiro7
    in_root systemctl enable qiro7-logger.service >/dev/null 2>&1
    [ -L "$root/etc/systemd/system/multi-user.target.wants/qiro7-logger.service" ]
    [ -L "$root/etc/systemd/system/dev-qiro7.device.wants/qiro7-logger.service" ]
    sed -i -e 's/^QIRO7_LOG_PATTERN=.*/QIRO7_LOG_PATTERN=line 3 %Y-%m-%d %H.csv/' \
        -e 's/^QIRO7_LOG_OPTIONS=.*/QIRO7_LOG_OPTIONS=--demo --demo-fast-clock --duration 2s/' \
        "$root/etc/qiro7/logger.conf"

    # Stand-ins for the targets the unit orders itself against; its output to a file, as no
    # journal runs.
    mkdir -p "$root/run/units/qiro7-logger.service.d"
    for target in sysinit basic shutdown network multi-user check; do
        printf '[Unit]\nDescription=%s\n' "$target" >"$root/run/units/$target.target"
    done
    cp "$root/usr/lib/systemd/system/qiro7-logger.service" "$root/run/units/"
    printf '[Service]\nStandardOutput=file:/run/out.txt\nStandardError=file:/run/out.txt\n' \
        >"$root/run/units/qiro7-logger.service.d/output.conf"
    unshare --pid --fork chroot "$root" /bin/sh -c 'mount -t proc proc /proc &&
        exec env -i container=qiro7-check SYSTEMD_UNIT_PATH=/run/units \
            /lib/systemd/systemd --system --unit=check.target' >/dev/null 2>&1 &
    for _ in $(seq 50); do
        pid1="$(pgrep -P $!)" || true
        [ -S "$root/run/systemd/private" ] && break
        sleep 0.2
    done
    [ -n "$pid1" ] && [ -S "$root/run/systemd/private" ]
    local systemctl=(nsenter --target "$pid1" --mount --pid --root --wd systemctl)
    "${systemctl[@]}" start qiro7-logger.service
    for _ in $(seq 100); do
        state="$("${systemctl[@]}" is-active qiro7-logger.service)" || true
        [ "$state" = activating ] || [ "$state" = active ] || break
        sleep 0.2
    done
    properties="$("${systemctl[@]}" show -p Result -p ExecMainStatus qiro7-logger.service)"
    echo "$properties"
    cat "$root/run/out.txt"
    kill -9 "$pid1"
    pid1=""
    grep -qx Result=success <<<"$properties"
    grep -qx ExecMainStatus=0 <<<"$properties"
    echo "wrote: $(cd "$root/var/lib/qiro7" && ls -s --block-size=K -- *)"
    [ "$(in_root stat -c %U /var/lib/qiro7)" = qiro7 ]
    [ -s "$root/var/lib/qiro7/line 3 $(date -u '+%Y-%m-%d %H').csv" ] ||
        [ -s "$root/var/lib/qiro7/line 3 $(date -u -d '-1 hour' '+%Y-%m-%d %H').csv" ]

    in_root dpkg --purge qiro7 >/dev/null
    [ ! -e "$root/etc/systemd/system/dev-qiro7.device.wants/qiro7-logger.service" ]
    [ ! -e "$root/etc/qiro7/logger.conf" ]
}

say "lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

say "unpacking into $scratch"
rm -rf "$scratch"
dpkg-deb -x "$deb" "$scratch"
appstream_files=("$scratch"/usr/share/metainfo/*.metainfo.xml)
for path in usr/bin/qiro7 usr/bin/qiro7-demo usr/bin/qiro7-cli usr/share/man/man1/qiro7-cli.1.gz \
    usr/share/applications/qiro7.desktop usr/share/applications/qiro7-demo.desktop \
    usr/share/icons/hicolor/scalable/apps/qiro7.svg usr/lib/udev/rules.d/70-qiro7.rules \
    usr/lib/systemd/system/qiro7-logger.service usr/lib/sysusers.d/qiro7.conf \
    etc/qiro7/logger.conf usr/share/lintian/overrides/qiro7 \
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

# dpkg keeps the administrator's settings over an upgrade only for a conffile.
dpkg-deb --info "$deb" conffiles | grep -qx /etc/qiro7/logger.conf ||
    fail "/etc/qiro7/logger.conf is not a conffile"
check_udev_rule
check_logging_service
run_logging_service

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
