#!/usr/bin/env bash
# Line and branch coverage of the product code by the native test suite, per folder: builds the
# `coverage` preset (gcc --coverage), runs its tests, and sums up what gcovr reports. The tests,
# benchmarks and fuzz targets are not counted; branches only an exception takes, or that the
# compiler knows cannot be taken, are left out. A figure, not a gate: bench/README.md keeps it.
# Usage: scripts/coverage.sh [ctest arguments, such as -L unit]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing_packages gcovr

cmake --preset coverage -DQUORVANE_WERROR=ON >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage "$@" >build/coverage/ctest.log 2>&1 ||
    echo "coverage: some tests failed (build/coverage/ctest.log); the figures count what ran" >&2
gcovr --root . --object-directory build/coverage --filter '[a-z]+/' --exclude 'tests/' \
    --exclude 'bench/' --exclude 'fuzz/' --exclude 'build/' --exclude-throw-branches \
    --exclude-unreachable-branches --gcov-ignore-parse-errors -j 2 \
    --json-summary build/coverage/summary.json >/dev/null
python3 - build/coverage/summary.json <<'PY'
import collections, json, sys
folders = collections.defaultdict(lambda: [0, 0, 0, 0])
for entry in json.load(open(sys.argv[1]))["files"]:
    counts = folders[entry["filename"].split("/")[0]]
    for i, key in enumerate(("line_covered", "line_total", "branch_covered", "branch_total")):
        counts[i] += entry[key]
def percent(covered, total):
    return f"{100 * covered / total:5.1f} %" if total else "    -  "
print(f"{'folder':<14}{'lines':>22}{'branches':>22}")
rows = sorted(folders.items()) + [("all", [sum(c[i] for c in folders.values()) for i in range(4)])]
for folder, (lc, lt, bc, bt) in rows:
    print(f"{folder:<14}{percent(lc, lt):>9} {lc:>5}/{lt:<6}{percent(bc, bt):>9} {bc:>5}/{bt:<6}")
PY
