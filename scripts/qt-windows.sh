#!/bin/bash
# Builds the Qt for Windows that the `mingw` preset links against: Qt's base modules, shared, for
# x86_64-w64-mingw32, from Debian's source package of the same Qt version as the host tools (moc,
# rcc, uic), which a cross build of Qt 6 runs. Debian packages no Qt for mingw-w64.
#
# The result is cached outside the checkout, under a directory named after the Qt version and a
# hash of the build options, so it is built once per machine; `qt-windows` beside it points at the
# current one, and that is where the `mingw` preset looks. The prefix is printed as the last line
# of the standard output; progress goes to the standard error.
#
# Usage: scripts/qt-windows.sh [--print-prefix]
#   --print-prefix  only print where the prefix is (or will be); build nothing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qt_version=6.4.2
cache=${QUORVANE_CACHE:-$HOME/.cache/quorvane}
jobs=${QUORVANE_QT_JOBS:-2}

# Qt's shared libraries: Quorvane's licence is not the LGPL, so Qt ships as its own DLLs beside
# the executables, where a user can replace them. The MinGW runtime is linked into each DLL
# and plugin (`-static` at link time; GCC's runtime library exception allows it), so no libgcc, libstdc++ or
# winpthread DLL travels along. Bundled third-party libraries throughout: a Windows program cannot take them from
# the Debian host. FEATURE_tabletevent is off because Debian's source leaves out the Wintab header;
# without OpenGL, Qt 6.4.2's Windows platform plugin only compiles with dynamicgl off as well.
# Only what the program and its tests use is built: Core, Gui, Widgets, Network and Test, the
# windows and offscreen platform plugins and the Windows styles; FreeType stays for the font engine
# used under Wine. DirectWrite 3 goes with Direct2D: Qt 6.4.2 compiles its font database only
# when Direct2D is on, but its Windows platform plugin refers to it whenever DirectWrite 3 is.
qt_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DCMAKE_SHARED_LINKER_FLAGS=-static
    -DCMAKE_MODULE_LINKER_FLAGS=-static
    -DCMAKE_EXE_LINKER_FLAGS=-static
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_openssl=OFF
    -DFEATURE_schannel=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_testlib=ON
    -DFEATURE_tabletevent=OFF
    -DFEATURE_opengl=OFF
    -DFEATURE_dynamicgl=OFF
    -DFEATURE_direct2d=OFF
    -DFEATURE_directwrite3=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_ico=OFF
    -DFEATURE_imageformatplugin=OFF
)
# Changes to Qt's source, each explained in its file; they are part of what the hash names.
patches=("$repo"/scripts/qt-windows-patches/*.patch)
toolchain_file=$repo/cmake/mingw-w64-x86_64.cmake
options_hash=$({ printf '%s\n' "${qt_options[@]}"; cat "${patches[@]}"; } | sha256sum | cut -c1-10)
prefix=$cache/qt-$qt_version-x86_64-w64-mingw32-shared-$options_hash
stamp=$prefix/quorvane-qt-built
current_link=$cache/qt-windows

say() { echo "qt-windows: $*" >&2; }

point_current_link_at_prefix() {
    ln -sfn "$(basename "$prefix")" "$current_link"
}

if [ "${1:-}" = "--print-prefix" ]; then
    echo "$prefix"
    exit 0
fi

if [ -f "$stamp" ]; then
    point_current_link_at_prefix
    say "Qt $qt_version for Windows is already built."
    echo "$prefix"
    exit 0
fi

# shellcheck source=packages.sh
source "$repo/scripts/packages.sh"

# Other package installations hold the dpkg lock; apt-get would give up at once.
wait_for_apt() {
    while pgrep -x apt-get >/dev/null || pgrep -x apt >/dev/null || pgrep -x dpkg >/dev/null; do
        say "waiting for another package installation to end..."
        sleep 15
    done
}

# `apt-get source` needs deb-src entries; the configured Debian suites get them when none exist.
add_debian_source_entries() {
    if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    say "adding deb-src entries for the configured Debian suites"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $sudo tee /etc/apt/sources.list.d/quorvane-deb-src.sources >/dev/null
    else
        grep -hE '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            $sudo tee /etc/apt/sources.list.d/quorvane-deb-src.list >/dev/null
    fi
    $sudo apt-get update -qq
}

# The source of exactly the host's qt6-base-dev version, so that its moc, rcc and uic match.
fetch_qt_source() {
    local version
    version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    local source_root=$cache/src/qt6-base-$version
    if [ ! -f "$source_root/.unpacked" ]; then
        rm -rf -- "$source_root"
        mkdir -p -- "$source_root"
        say "fetching Debian's source of qt6-base $version"
        (cd "$source_root" && apt-get source -qq "qt6-base=$version" >&2)
        touch "$source_root/.unpacked"
    fi
    find "$source_root" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1
}

# Applies each patch to the unpacked source once; one already applied is left as it is.
apply_patches() {
    local source_dir=$1 patch_file
    for patch_file in "${patches[@]}"; do
        if patch -d "$source_dir" -p1 -R --dry-run --silent <"$patch_file" >/dev/null 2>&1; then
            continue
        fi
        say "applying $(basename "$patch_file")"
        patch -d "$source_dir" -p1 --forward --silent <"$patch_file" >&2
    done
}

# All in one function, so that bash has read the whole script before the long build starts.
main() {
    wait_for_apt
    install_missing_packages cmake ninja-build qt6-base-dev mingw-w64 dpkg-dev
    add_debian_source_entries
    source_dir=$(fetch_qt_source)
    apply_patches "$source_dir"
    build_dir=$cache/build-qt-$qt_version-$options_hash

    say "building Qt $qt_version for Windows (shared, mingw-w64) into $prefix"
    say "about 1,200 steps with $jobs jobs: 15-25 minutes on a quiet 2-core machine, more when busy"
    started=$(date +%s)
    rm -rf -- "$build_dir" "$prefix"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        "${qt_options[@]}" >&2
    NINJA_STATUS="[%f/%t %es] " cmake --build "$build_dir" --parallel "$jobs" >&2
    cmake --install "$build_dir" >&2
    elapsed=$(($(date +%s) - started))
    printf 'Qt %s from Debian source %s, built in %d s with:\n' "$qt_version" \
        "$(basename "$source_dir")" "$elapsed" >"$stamp"
    printf '%s\n' "${qt_options[@]}" >>"$stamp"
    printf 'patched with %s\n' "${patches[@]##*/}" >>"$stamp"
    rm -rf -- "$build_dir"
    point_current_link_at_prefix
    say "done in $((elapsed / 60)) min $((elapsed % 60)) s"
    echo "$prefix"
}

main
