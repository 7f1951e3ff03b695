#!/usr/bin/env bash
# Builds Quorvane and runs all of its tests: the native suites, a sanitizer build of the unit
# tests, the core cross-built with mingw-w64 and run under Wine against the real Win32 registry
# functions, and a short fuzzing run of the hive parser. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

run_preset() {
    echo "== $1"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_preset debug
run_preset sanitize
run_preset mingw
run_preset fuzz
