#!/usr/bin/env bash
# Takes the README's screenshots: the three restriction tabs and the About tab, under Xvfb, on a
# temporary registry store of its own with a few restrictions in force; then quorvane.exe, the
# Windows build, under Wine on Xvfb with Qt's `windows` platform, in a temporary prefix with the
# same restrictions. Writes docs/screenshots/*.png. Installs missing Debian packages first (and
# builds the Qt for Windows when it is missing: 15-25 minutes).
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
    "$build/tools/window_screenshots" "$PWD/docs/screenshots"

# The Windows program, as a Windows user sees it.
install_missing_packages "${WINDOWS_PACKAGES[@]}" xdotool imagemagick
scripts/qt-windows.sh >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw
. scripts/wine-session.sh
make_wine_prefix "$scratch/wine"
trap 'wineserver -k 2>/dev/null; rm -rf "$scratch"' EXIT
# Installed as the packages lay it out: Qt's DLLs, plugins and the manifest beside the programs.
cmake --install build/mingw --prefix "$scratch/program" >/dev/null
unset QUORVANE_CONFIG
wine "$scratch/program/quorvane-cli.exe" impose 2 4 6 NoBrowserSaveAs NoPrinting NoAddressBar \
    DisableRegistryTools >/dev/null
wineserver -w
xvfb-run --auto-servernum --server-args='-screen 0 1024x768x24 -dpi 96' bash -c '
    . scripts/wine-session.sh
    wine "$1/quorvane.exe" &
    window=$(wait_for_quorvane_window 90)
    [ -n "$window" ] || { echo "quorvane.exe showed no window" >&2; exit 1; }
    sleep 2  # the first paint
    import -window "$window" "$2/windows-wine.png"
    wineserver -k' _ "$scratch/program" "$PWD/docs/screenshots"
ls -l docs/screenshots
