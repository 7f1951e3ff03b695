#!/bin/sh
# Whole-process timings of the static quorvane-cli, paired (bench/paired_runs.py) in two runs, the
# short commands with the floor and the 100 MB ones apart:
# - the floor: bench/version_floor, a C++ program that only prints its version, built and linked
#   as the static quorvane-cli is;
# - quorvane-cli --version, and list on a copy of the fixture prefix
#   (tests/fixtures/wine-8.0-prefix);
# - list --windows on the tests' fake installation with its SOFTWARE hive grown to 100 MB
#   (bench/large_installation);
# - the same three commands of each other quorvane-cli given (an earlier build, say);
#   quorvane-cli-1 is the build's, quorvane-cli-2 the first other one, and so on.
# Prints each command's median wall and CPU time and how far it lies above the floor.
# bench/README.md has the figures.
#
#   bench/cli_start_timing.sh BUILD_DIR [RUNS] [OTHER_QUORVANE_CLI...]
#
# BUILD_DIR is a static build with the benchmarks:
#   cmake --preset static -DQUORVANE_BENCH=ON && cmake --build --preset static
set -eu
build=$(realpath "${1:?usage: $0 BUILD_DIR [RUNS] [OTHER_QUORVANE_CLI...]}")
runs=${2:-100}
shift $(($# < 2 ? $# : 2))
here=$(dirname "$0")
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-cli-timing.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir "$work/prefix"
cp "$here/../tests/fixtures/wine-8.0-prefix/"*.reg "$work/prefix/"
"$build/bench/large_installation" "$work/large"
# Nothing of this machine's own configuration, registry or state.
export QUORVANE_CONFIG=/dev/null XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
unset WINEPREFIX

# Each executable is started from a copy made alike: a file as the linker wrote it was seen to
# start up to a millisecond slower than a copy of it on the same file system.
mkdir "$work/bin"
cp "$build/bench/version_floor" "$work/bin/version_floor"
set -- "$build/cli/quorvane-cli" "$@"
n=0
for cli in "$@"; do
    n=$((n + 1))
    copy="$work/bin/quorvane-cli-$n"
    cp "$cli" "$copy"
    printf '%s\n' "$copy --version" "$copy --registry $work/prefix list" >>"$work/short"
    printf '%s\n' "$copy --windows $work/large --user ann list" >>"$work/long"
done
# Two paired runs: the short commands with the floor, then the 100 MB ones. A start right after
# a command that freed some 200 MB touches fresh pages that this virtual machine's host must
# hand out again (1.7 µs each instead of 1.0): in the same rounds, that added about 0.25 ms to
# the median of list, whose start touches a hundred pages more than the floor's.
tr '\n' '\0' <"$work/short" | xargs -0 python3 "$here/paired_runs.py" "$work/short.json" \
    "$runs" "$work/bin/version_floor"
tr '\n' '\0' <"$work/long" | xargs -0 python3 "$here/paired_runs.py" "$work/long.json" "$runs"

python3 - "$work/short.json" "$work/long.json" \
    "$(du -m "$work/large/WINDOWS/system32/Config/SOFTWARE" | cut -f1)" <<'PY'
import json, sys
short = json.load(open(sys.argv[1]))["results"]
long = json.load(open(sys.argv[2]))["results"]
floor, floor_cpu = short[0]["median"] * 1000, short[0]["cpu"] * 1000
print("medians of each command's runs, in ms")
for r in short:
    wall, cpu = r["median"] * 1000, r["cpu"] * 1000
    print(f"{wall:8.3f} wall (floor + {wall - floor:7.3f})  {cpu:8.3f} CPU (floor + "
          f"{cpu - floor_cpu:7.3f})  {r['command']}")
print(f"SOFTWARE hive: {sys.argv[3]} MB, in a paired run of its own")
for r in long:
    print(f"{r['median'] * 1000:8.1f} wall  {r['cpu'] * 1000:8.1f} CPU  {r['command']}")
PY
