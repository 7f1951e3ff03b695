#!/bin/bash
# Runs one Windows test executable under Wine in a prefix of its own, then stops that prefix's
# wineserver and removes the prefix. Exits with the test's status. With --script, runs a bash
# script instead, with WINEPREFIX naming that prefix, for tests that start several programs.
# Usage: run_under_wine.sh EXE [ARGS...]
#        run_under_wine.sh --script SCRIPT [ARGS...]
set -u

if [ $# -lt 1 ] || { [ "$1" = "--script" ] && [ $# -lt 2 ]; }; then
    echo "usage: $0 EXE [ARGS...] | --script SCRIPT [ARGS...]" >&2
    exit 2
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-wine.XXXXXXXX") || exit 1
# Every Wine command below must name this prefix, or it would fall back to ~/.wine.
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko: the tests need neither, and their installers would slow the first start.
export WINEDLLOVERRIDES="mscoree=;mshtml="

test_pid=
cleanup() {
    if [ -n "$test_pid" ]; then
        kill "$test_pid" 2>/dev/null
    fi
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    rm -rf -- "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The prefix is made first, on its own: a test started into a prefix still being made can find
# Wine's own DLLs missing ("could not load kernel32.dll"). One more try on a fresh prefix when
# making it fails.
make_prefix() {
    wineboot -i >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    [ -f "$prefix/system.reg" ]
}
if ! make_prefix; then
    wineserver -k >/dev/null 2>&1
    rm -rf -- "$prefix" && mkdir -p -- "$prefix"
    make_prefix || { echo "run_under_wine.sh: Wine could not make a prefix" >&2; exit 1; }
fi

# In the background, so that a signal to this script is handled at once, not after Wine ends.
if [ "$1" = "--script" ]; then
    shift
    bash "$@" &
else
    wine "$@" &
fi
test_pid=$!
wait "$test_pid"
status=$?
test_pid=
exit "$status"
