#!/bin/bash
# The manifest the Windows program writes beside itself binds it to common controls that Windows
# has for its architecture: Wine's loader, traced, reads the manifest and finds the common
# controls' own manifest and comctl32.dll. Run by run_under_wine.sh --script, in a prefix of its
# own. The manifest tool stands in for the program (it writes the same text and needs no window).
# Usage: manifest_under_wine.sh quorvane-manifest-file.exe
set -u
tool=${1:?usage: $0 quorvane-manifest-file.exe}
dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-manifest.XXXXXXXX") || exit 1
trap 'rm -rf -- "$dir"' EXIT

failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

program="$dir/Quorvane Probe.exe"
cp -- "$tool" "$program"
check "the manifest is written" wine "$program" "Quorvane Probe" "Z:$dir"
check "it names the 64-bit architecture" grep -q 'processorArchitecture="amd64"' \
    "$dir/Quorvane Probe.exe.MANIFEST"

# Started again, now beside its manifest, with the activation-context trace on.
WINEDEBUG=+actctx wine "$program" "Quorvane Probe" "Z:$dir" >"$dir/trace.txt" 2>&1
check "the loader reads the program's manifest" \
    grep -q 'parsing manifest loaded from .*Quorvane Probe\.exe\.manifest' "$dir/trace.txt"
check "it finds the common controls' manifest" grep -q \
    'loading manifest file .*winsxs.*manifests.*amd64_microsoft\.windows\.common-controls_' \
    "$dir/trace.txt"
check "and comctl32.dll in it" grep -q 'parse_file_elem name=L"comctl32.dll"' "$dir/trace.txt"
check "no dependent assembly is missing" \
    bash -c '! grep -i "could not find dependent assembly" "$1"' -- "$dir/trace.txt"
[ "$failures" -eq 0 ] || { grep -i 'actctx' "$dir/trace.txt" | head -40; exit 1; }
