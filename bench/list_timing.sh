#!/bin/sh
# Whole-process timings of `quorvane-cli list` on a fresh Wine prefix, against the floor of
# starting the program (`--version`) and against Wine's own `wine reg query` of one value, warm
# (the prefix's wineserver kept running) and cold (no server: Wine starts one), all in one run;
# the medians (wall and, for Quorvane, CPU time) and their ratios are printed at the end. `list` also runs on a copy of the prefix whose system.reg
# has grown to 100 MB with keys nobody reads. Given a second program (an earlier build), it is
# timed beside the first in the same run. bench/README.md has the figures.
#
#   bench/list_timing.sh build/release/cli/quorvane-cli [RUNS] [EARLIER_QUORVANE_CLI]
set -eu

runs=${2:-40}
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-list-timing.XXXXXX")
# Each executable is started from a copy made alike: a file as the linker wrote it was seen to
# start up to a millisecond slower than a copy of it on the same file system.
mkdir "$work/bin"
cp "${1:?usage: $0 QUORVANE_CLI [RUNS] [EARLIER_QUORVANE_CLI]}" "$work/bin/quorvane-cli"
cli="$work/bin/quorvane-cli"
earlier=
if [ -n "${3:-}" ]; then
    cp "$3" "$work/bin/quorvane-cli-earlier"
    earlier="$work/bin/quorvane-cli-earlier"
fi
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
wineserver -w
query="wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System' /v EnableLUA"

# The prefix grown to 100 MB: sections under one key that nobody reads, appended.
grown="$work/grown"
mkdir "$grown"
cp "$WINEPREFIX"/*.reg "$grown/"
python3 - "$grown/system.reg" <<'EOF'
import sys
with open(sys.argv[1], "a", newline="") as out:
    written = n = 0
    while written < 100 << 20:
        section = f"\n[Software\\\\Classes\\\\Bulk\\\\Program{n}] 1700000000\n#time=1da0b0c0d0e0f00\n"
        section += "".join(f'"Setting{v}"="some program\'s own text"\n' for v in range(5))
        out.write(section)
        written += len(section)
        n += 1
EOF

# 1. The floor and list, with no wineserver running (as a user runs it), paired
# (bench/paired_runs.py).
python3 "$(dirname "$0")/paired_runs.py" "$work/list.json" "$runs" "$cli --version" \
    "$cli --registry $WINEPREFIX list" "$cli --registry $grown list" \
    ${earlier:+"$earlier --registry $WINEPREFIX list"} ${earlier:+"$earlier --registry $grown list"}
# 2. Warm: the server kept running, as while a Wine program is open.
wineserver -p
sh -c "$query" >/dev/null 2>&1
hyperfine -N -w 3 -r "$((runs / 4 + 1))" --export-json "$work/warm.json" "$query" >/dev/null
# 3. Cold: every query starts Wine's server and its services anew.
wineserver -k
wineserver -w
hyperfine -w 1 -r 5 --prepare "wineserver -k 2>/dev/null; wineserver -w; sleep 0.5" \
    --export-json "$work/cold.json" "$query" >/dev/null

python3 - "$work" <<'EOF'
import json, sys
work = sys.argv[1]
def results(name):
    return json.load(open(f"{work}/{name}.json"))["results"]
def medians(name):
    return [(r["command"], r["median"] * 1000) for r in results(name)]
runs = results("list")
names = ["--version (floor)", "list", "list, 100 MB system.reg", "earlier build: list",
         "earlier build: 100 MB"]
floor, floor_cpu = runs[0]["median"] * 1000, runs[0]["cpu"] * 1000
listed = runs[1]["median"] * 1000
for name, r in zip(names, runs):
    wall, cpu = r["median"] * 1000, r["cpu"] * 1000
    print(f"{name:26} median {wall:8.2f} ms  (floor + {wall - floor:.2f} ms)"
          f"  CPU {cpu:7.2f} ms  (floor + {cpu - floor_cpu:.2f} ms)")
warm = medians("warm")[0][1]
cold = medians("cold")[0][1]
print(f"wine reg query, warm       median {warm:8.2f} ms  ({warm / listed:.1f} x list)")
print(f"wine reg query, cold       median {cold:8.2f} ms  ({cold / listed:.1f} x list)")
EOF
