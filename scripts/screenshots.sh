#!/usr/bin/env bash
# Takes the README's screenshots: the three restriction tabs and the About tab, under Xvfb, on a
# temporary registry store of its own with a few restrictions in force. Writes
# docs/screenshots/*.png. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing_packages "${BUILD_PACKAGES[@]}" xvfb xauth

build=build/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BENCH=OFF >/dev/null
cmake --build "$build" --target quorvane-cli window_screenshots

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/registry"
printf '[Registry]\nDirectory=%s\n' "$scratch/registry" >"$scratch/quorvane.ini"
export QUORVANE_CONFIG=$scratch/quorvane.ini
unset WINEPREFIX

# A few restrictions on each tab, so that the pictures show checked and unchecked boxes.
"$build/cli/quorvane-cli" impose 2 4 6 NoBrowserSaveAs NoPrinting NoAddressBar \
    DisableRegistryTools >/dev/null

mkdir -p docs/screenshots
xvfb-run --auto-servernum --server-args='-screen 0 1024x768x24 -dpi 96' \
    "$build/tests/startup/window_screenshots" "$PWD/docs/screenshots"
ls -l docs/screenshots
