#!/usr/bin/env bash
# Builds Quorvane and runs all of its tests: the native suites, the static quorvane-cli with the
# whole command line suite run against it (and its tarball), a sanitizer build of the unit
# tests, the whole program and its tests cross-built with mingw-w64 and run under Wine against
# the real Win32 registry functions (with the Windows installer), and a short fuzzing run of the
# hive parser. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

# Every build here treats a compiler warning as an error. The option stays in the build
# directory's cache: configure with -DQUORVANE_WERROR=OFF to build past warnings again.
configure() {
    cmake --preset "$1" -DQUORVANE_WERROR=ON >/dev/null
}

run_preset() {
    echo "== $1"
    configure "$1"
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_preset debug
run_preset static
# The rescue kit: quorvane-cli-<version>-linux-x86_64.tar.gz in build/static.
cmake --build --preset static --target package >/dev/null
run_preset sanitize
# The Windows build links a Qt (DLLs) that the project builds itself, once per machine (the
# first run takes 15-25 minutes longer).
scripts/qt-windows.sh >/dev/null
echo "== mingw"
configure mingw
cmake --build --preset mingw
# The installer test installs the package: it is made before the tests run.
cmake --build --preset mingw --target package >/dev/null
ctest --preset mingw
run_preset fuzz
