# shellcheck shell=bash
# Sourced by the Windows build scripts in tools/, never run: fetching a Debian source package
# from Debian's archive with a private apt list folder, so the machine's own apt configuration
# and package lists stay as they are. The sourcing script defines say().

# fetch_debian_source PACKAGE VERSION WORK FOLDER: downloads PACKAGE=VERSION into WORK/source and
# unpacks it, Debian's patches applied, into WORK/source/FOLDER. Exits when the archive does not
# give it.
fetch_debian_source() {
    local package="$1" version="$2" work="$3" folder="$4"
    local apt_dir="$work/apt" suite
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/source"
    suite="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    printf 'deb-src http://deb.debian.org/debian %s main\n' "$suite" >"$apt_dir/sources.list"
    local apt_options=(
        -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
        -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
        -o APT::Sandbox::User=root
    )
    say "fetching the source of $package $version from Debian's archive"
    apt-get "${apt_options[@]}" -qq update </dev/null
    if ! (cd "$work/source" &&
        apt-get "${apt_options[@]}" -qq source --download-only "$package=$version" \
            </dev/null >"$work/fetch.log" 2>&1); then
        cat "$work/fetch.log" >&2
        say "Debian's archive did not give the source of $package $version"
        exit 1
    fi
    say "unpacking with Debian's patches"
    (cd "$work/source" &&
        dpkg-source -x --no-check "${package}"_*.dsc "$folder" >"$work/unpack.log" 2>&1)
}
