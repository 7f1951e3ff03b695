# Helpers for running quorvane.exe under Wine on an X display; sourced by scripts/screenshots.sh
# and bench/wine_window_start.sh.

# A fresh prefix in `$1`, with Wine drawing the windows' frames itself (Wine's own look: an
# unmanaged window carries the caption and border that Wine paints, whatever the X session has).
# Debian's Wine 8 looks for its own fonts in /usr/share/fonts rather than in /usr/share/wine/fonts
# where fonts-wine puts them, and leaves C:\windows\Fonts empty: without Marlett the caption
# buttons show letters, without Tahoma the dialog font falls back to a serif face. Those two are
# copied there. (Wine's bitmap "MS Sans Serif" is not: it runs wider than Windows' own, and the
# window's stand-in face keeps the layout's widths.)
make_wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    wineboot -i >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf \
        "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
}

# Waits up to `$1` seconds for a visible top-level window titled exactly "Quorvane" and prints
# its X window id. Looks every 20 ms (xdotool's own --sync looks only every 500 ms).
wait_for_quorvane_window() {
    local deadline=$((SECONDS + $1)) window
    while [ "$SECONDS" -lt "$deadline" ]; do
        window=$(xdotool search --onlyvisible --name '^Quorvane$' 2>/dev/null | head -n1)
        if [ -n "$window" ]; then
            echo "$window"
            return 0
        fi
        sleep 0.02
    done
    return 1
}
