#!/usr/bin/env bash
# Builds a release of Quorvane and starts its window. Installs missing Debian packages first.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it shows the restrictions through
# the command line front end instead, and says how to open the window.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}"

cmake --preset release -DQUORVANE_TESTS=OFF -DQUORVANE_BENCH=OFF >/dev/null
cmake --build --preset release
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/release/startup/quorvane
fi
build/release/cli/quorvane-cli list
cat <<'TEXT'

No display (DISPLAY and WAYLAND_DISPLAY are unset), so this is the command line's list.
To open the window, run ./run.sh in a graphical session, or on a virtual display:
    xvfb-run ./run.sh
The command line works without one: build/release/cli/quorvane-cli --help
TEXT
