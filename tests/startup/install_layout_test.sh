#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks that the desktop finds everything:
# the launcher leads to the program, Help.htm lies beside the program, and the desktop entry,
# metainfo and icons are where desktops look for them (XDG base directories, hicolor).
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

launcher=$prefix/bin/quorvane
[ -L "$launcher" ] || fail "bin/quorvane is not a symbolic link"
program=$(readlink -f "$launcher")
[ -x "$program" ] || fail "bin/quorvane leads to no program ($program)"
[ -f "$(dirname "$program")/Help.htm" ] || fail "no Help.htm beside $program"
case $(readlink "$launcher") in
    /*) fail "the launcher's target is absolute: the prefix could not be moved" ;;
esac

desktop=$prefix/share/applications/net.haldrix.Quorvane.desktop
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/net.haldrix.Quorvane.metainfo.xml" >/dev/null

icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    # The PNG header holds width and height as big-endian numbers at bytes 16 and 20.
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "$png is ${width}x${height}"
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"
exec_name=$(sed -n 's/^Exec=//p' "$desktop")
[ -e "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name is not in bin/"
echo "installed layout ok"
