#!/bin/bash
# How long quorvane.exe (the mingw build, installed as the packages lay it out: Qt's DLLs, plugins
# and the manifest beside it) takes under Wine from its start until its main window is shown, in
# a warm prefix: made beforehand, one start done before the timed ones, and the wineserver kept
# running between starts. Each start runs until the window is mapped and visible on the X display
# (xdotool), then the program is ended. Prints every time and the median.
# Usage: bench/wine_window_start.sh [MINGW_BUILD_DIR] [RUNS]   (runs Xvfb itself; default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/mingw}")
runs=${2:-10}

if [ -z "${QUORVANE_IN_XVFB:-}" ]; then
    QUORVANE_IN_XVFB=1 exec xvfb-run --auto-servernum \
        --server-args='-screen 0 1024x768x24 -dpi 96' "$0" "$build" "$runs"
fi

. scripts/wine-session.sh
scratch=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$scratch"' EXIT
make_wine_prefix "$scratch/wine"
cmake --install "$build" --prefix "$scratch" >/dev/null
wineserver -p  # persistent: every start finds the server running

# One start until the window shows; prints milliseconds. The program is then ended.
time_one_start() {
    local started ended window
    started=$(date +%s%N)
    wine "$scratch/quorvane.exe" &
    local launcher=$!
    window=$(wait_for_quorvane_window 60)
    ended=$(date +%s%N)
    [ -n "$window" ] || { echo "no window" >&2; return 1; }
    wine taskkill /f /im quorvane.exe >/dev/null 2>&1
    wait "$launcher" 2>/dev/null || true
    echo $(((ended - started) / 1000000))
}

time_one_start >/dev/null  # warms the prefix and the page cache
times=()
for _ in $(seq "$runs"); do
    times+=("$(time_one_start)")
done
echo "start to window, ms: ${times[*]}"
printf '%s\n' "${times[@]}" | sort -n | awk '{t[NR]=$1} END {
    m = NR % 2 ? t[(NR+1)/2] : (t[NR/2] + t[NR/2+1]) / 2; print "median: " m " ms"}'
