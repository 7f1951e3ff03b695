#!/bin/sh
# `quorvane --help` and `-h` print the usage and end at once, with status 0: no manifest is
# written beside the program, no window opens, and no display is needed (there is none here).
# usage: help_option.sh QUORVANE
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$1" "$dir/quorvane"
for option in --help -h; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$dir/quorvane" "$option")
    case "$out" in
        "Usage: quorvane "*) ;;
        *) echo "quorvane $option printed: $out" >&2; exit 1 ;;
    esac
done
if ls "$dir" | grep -q -i manifest; then
    echo "quorvane --help wrote: $(ls "$dir")" >&2
    exit 1
fi
