#!/usr/bin/env bash
# Checks an installed tree (PREFIX is /usr of a package, or a `cmake --install` prefix): the
# launchers lead to the programs, Help.htm lies beside them, and the desktop entry, metainfo,
# icons, manual pages and shell completion are where desktops, man and bash-completion look
# for them (XDG base directories, hicolor, man1, bash-completion/completions).
set -euo pipefail
prefix=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

for name in quorvane quorvane-cli; do
    launcher=$prefix/bin/$name
    [ -L "$launcher" ] || fail "bin/$name is not a symbolic link"
    case $(readlink "$launcher") in
        /*) fail "the target of bin/$name is absolute: the prefix could not be moved" ;;
    esac
    program=$(readlink -f "$launcher")
    [ -x "$program" ] || fail "bin/$name leads to no program ($program)"
    # Both programs read Help.htm and quorvane.ini from their own directory: the same one.
    [ "$(dirname "$program")" = "$(readlink -f "$prefix/libexec/quorvane")" ] ||
        fail "bin/$name leads to $program, not into libexec/quorvane/"
done
[ -f "$prefix/libexec/quorvane/Help.htm" ] || fail "no Help.htm beside the programs"
# Installed with the program, so that it never writes into a directory the installer owns.
head -c 5 "$prefix/libexec/quorvane/quorvane.exe.MANIFEST" | grep -q '^<?xml' ||
    fail "no visual-styles manifest beside the program"

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

for page in quorvane quorvane-cli; do
    gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "no manual page $page(1)"
done
completion=$prefix/share/bash-completion/completions/quorvane-cli
bash -n "$completion" || fail "no bash completion for quorvane-cli"
grep -q '^complete -F [_a-z]* quorvane-cli$' "$completion" ||
    fail "the completion registers nothing for quorvane-cli"
