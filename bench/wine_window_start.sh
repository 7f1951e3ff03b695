#!/bin/bash
# How long quorvane.exe (the mingw build, installed as the packages lay it out: Qt's DLLs, plugins
# and the manifest beside it) takes under Wine from its start until its main window is shown, in
# a warm prefix (made beforehand, one start done before the timed ones, the wineserver kept
# running between starts), and where that time goes. Each start runs until a window titled
# "Quorvane" is mapped and visible on the X display (xdotool), then the program is ended.
# Three measurements in one run, each start of one after one of the others:
# - the floor: a plain Win32 program of a few lines that shows a window titled like Quorvane's,
#   started the same way (Wine's own start, one window and its map on X);
# - quorvane.exe's whole start;
# - from traced starts (Wine's +loaddll channel with its time stamps, which advance with the
#   wineserver's tick, every few milliseconds), the phases between the program's image being
#   mapped and Qt's style plugin being loaded, and from the style to the end of Qt's Direct3D
#   adapter query where Qt makes one. What is left is the program's window: creating its
#   widgets, its registry reads, fonts and the first paint.
# Usage: bench/wine_window_start.sh [MINGW_BUILD_DIR|INSTALLED_DIR] [RUNS]
#   (runs Xvfb itself; 10 runs by default; a folder holding quorvane.exe is taken as installed)
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
if [ -f "$build/quorvane.exe" ]; then
    cp -r "$build"/. "$scratch"
else
    cmake --install "$build" --prefix "$scratch" >/dev/null
fi
cat >"$scratch/floor.c" <<'SOURCE'
#include <windows.h>
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)previous, (void)command;
    WNDCLASSA windowClass = {0};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "floor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("floor", "Quorvane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 300, NULL, NULL, instance, NULL);
    ShowWindow(window, show);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    return 0;
}
SOURCE
x86_64-w64-mingw32-gcc -O2 -mwindows -o "$scratch/floor.exe" "$scratch/floor.c"
wineserver -p

# One start of `exe` (WINEDEBUG=`3`, its trace into `2`) until its window is visible; prints
# milliseconds. The program is then ended.
time_one_start() {
    local exe=$1 trace=$2 started ended
    started=$(date +%s%N)
    WINEDEBUG=$3 wine "$scratch/$exe" 2>"$trace" &
    local launcher=$!
    wait_for_quorvane_window 60 >/dev/null || { echo "no window" >&2; return 1; }
    ended=$(date +%s%N)
    wine taskkill /f /im "$exe" >/dev/null 2>&1
    wait "$launcher" 2>/dev/null || true
    echo $(((ended - started) / 1000000))
}

# The phases of one traced start, in ms, in the order of the names printed below.
phases_of() {
    python3 - "$1" <<'SCRIPT'
import re, sys
marks = {
    'exe': r'Loaded L".*quorvane\.exe"',
    'widgets': r'Loaded L".*Qt6Widgets\.dll"',
    'platform': r'Loaded L".*qwindows\.dll"',
    'style': r'Loaded L".*qwindowsvistastyle\.dll"',
    'd3d': r'wined3d_guess_card',
}
first = {}
for line in open(sys.argv[1], errors='replace'):
    stamp = re.match(r'(\d+\.\d+):', line)
    for name, pattern in marks.items():
        if stamp and name not in first and re.search(pattern, line):
            first[name] = float(stamp.group(1))
ms = lambda a, b: round((first[b] - first[a]) * 1000)
print(ms('exe', 'widgets'), ms('widgets', 'platform'), ms('platform', 'style'),
      ms('style', 'd3d') if 'd3d' in first else 0)
SCRIPT
}

time_one_start floor.exe /dev/null -all >/dev/null # warms the prefix and the page cache
time_one_start quorvane.exe /dev/null -all >/dev/null
floor=() whole=() rows=()
for _ in $(seq "$runs"); do
    floor+=("$(time_one_start floor.exe /dev/null -all)")
    whole+=("$(time_one_start quorvane.exe /dev/null -all)")
    time_one_start quorvane.exe "$scratch/trace" +timestamp,+loaddll >/dev/null
    rows+=("$(phases_of "$scratch/trace")")
done
{
    echo "${floor[*]}"
    echo "${whole[*]}"
    printf '%s\n' "${rows[@]}"
} | python3 -c '
import statistics, sys
lines = [list(map(int, line.split())) for line in sys.stdin if line.strip()]
floor, whole, rows = lines[0], lines[1], lines[2:]
def show(name, column):
    print(f"{name:58} median {statistics.median(column):5.0f} ms  ({min(column)}..{max(column)})")
show("floor: a plain Win32 window, launch to visible", floor)
show("quorvane.exe, launch to visible", whole)
names = ["traced: quorvane.exe mapped to Qt6Widgets.dll loaded",
         "traced: Qt6Widgets.dll to the platform plugin loaded",
         "traced: the platform plugin to the style plugin loaded",
         "traced: the style plugin to the Direct3D query done"]
for i, name in enumerate(names):
    show(name, [row[i] for row in rows])
'
