#!/bin/sh
# Whole-process timings of `quorvane-cli list` on a fresh Wine prefix, against the floor of
# starting the program (`--version`) and against Wine's own `wine reg query` of one value, warm
# (the prefix's wineserver kept running) and cold (no server: Wine starts one). Everything is
# timed by hyperfine in one run, so that the machine's load falls on all alike; the medians and
# their ratios are printed at the end. bench/README.md has the figures.
#
#   bench/list_timing.sh build/release/cli/quorvane-cli [RUNS]
set -eu

cli=$(realpath "${1:?usage: $0 QUORVANE_CLI [RUNS]}")
runs=${2:-40}
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-list-timing.XXXXXX")
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

# 1. The floor and list, with no wineserver running (as a user runs it).
hyperfine -N -w 5 -r "$runs" --export-json "$work/list.json" \
    "$cli --version" "$cli --registry $WINEPREFIX list" >/dev/null
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
def medians(name):
    return [(r["command"], r["median"] * 1000) for r in json.load(open(f"{work}/{name}.json"))["results"]]
(version_cmd, floor), (list_cmd, listed) = medians("list")
warm = medians("warm")[0][1]
cold = medians("cold")[0][1]
print(f"--version (floor)          median {floor:8.2f} ms")
print(f"list                       median {listed:8.2f} ms  (floor + {listed - floor:.2f} ms)")
print(f"wine reg query, warm       median {warm:8.2f} ms  ({warm / listed:.1f} x list)")
print(f"wine reg query, cold       median {cold:8.2f} ms  ({cold / listed:.1f} x list)")
EOF
