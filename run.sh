#!/usr/bin/env bash
# Builds a release of Quorvane and runs it. Installs missing Debian packages first.
# Until the main window exists, this shows the restrictions through the command line front end;
# arguments are passed on to it (./run.sh impose 4, ./run.sh --help).
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}"

cmake --preset release -DQUORVANE_TESTS=OFF -DQUORVANE_BENCH=OFF >/dev/null
cmake --build --preset release
if [ $# -eq 0 ]; then
    set -- list
fi
exec build/release/cli/quorvane-cli "$@"
