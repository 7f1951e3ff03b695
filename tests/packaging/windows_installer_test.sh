#!/bin/bash
# The Windows installer in fresh Wine prefixes, silently, as a user and as an administrator would
# run it:
# - for all users (/AllUsers): Program Files, the common Start menu, the uninstall entry under
#   HKEY_LOCAL_MACHINE with the size and the folder; the installed quorvane-cli.exe imposes
#   restriction 4 in both hives (Wine's own `reg` reads them) and loads no Qt DLL; the window
#   loads Qt from its own folder alone, even with another Qt where Qt would look by default
#   (WINEDEBUG=+loaddll);
# - for the current user (/CurrentUser): %LOCALAPPDATA%\Programs, the user's Start menu, the entry
#   under HKEY_CURRENT_USER and nothing under HKEY_LOCAL_MACHINE;
# - an older version (CPack made again with another version number) replaced in place, keeping a
#   changed quorvane.ini;
# - uninstalling leaves nothing of the program, nor the maker's empty key.
# Installer and uninstaller carry version information (read with icoutils' wrestool).
# Usage: windows_installer_test.sh INSTALLER.exe VERSION [CPackConfig.cmake]
set -u

installer=${1:?usage: $0 INSTALLER.exe VERSION [CPackConfig.cmake]}
version=${2:?usage: $0 INSTALLER.exe VERSION [CPackConfig.cmake]}
cpack_config=${3:-}
if [ ! -f "$installer" ]; then
    echo "no installer at $installer: build it with 'cmake --build --preset mingw --target package'"
    exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-install.XXXXXXXX") || exit 1
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    rm -rf -- "$scratch"
}
trap cleanup EXIT

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
# Wine ends a command before the processes it started: wait for the prefix to be idle.
wine_wait() {
    wine "$@"
    local status=$?
    wineserver -w
    return $status
}
new_prefix() {
    export WINEPREFIX=$scratch/$1
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
}

restrictions='HKEY_CURRENT_USER\Software\Policies\Microsoft\Internet Explorer\Restrictions'
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
shipped=(quorvane.exe quorvane-cli.exe quorvane.exe.MANIFEST Help.htm quorvane.ini README.txt
    licence.txt THIRD-PARTY-NOTICES.txt qt.conf Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
    Qt6Network.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll Uninstall.exe)

# Holds `value` as REG_DWORD 0x1 under `key` of the prefix's registry.
dword_is_one() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -Eq "^ +$2 +REG_DWORD +0x1$"
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
key_absent() { ! key_exists "$1"; }
# The data of value `2` under key `1`, as `reg query` prints it. Asked twice when the first
# answer is empty: in a run under heavy load, one query came back empty while the value was there
# (not seen again; most likely a query starting as the prefix's idle wineserver exits). A value
# that is missing is missing both times.
value_of() {
    local attempt data
    for attempt in 1 2; do
        data=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
            sed -nE "s/^ +$2 +REG_[A-Z_]+ +(.*)$/\1/p")
        [ -n "$data" ] && break
    done
    printf '%s\n' "$data"
}
nonzero_size() {
    local size
    size=$(value_of "$1" EstimatedSize)
    [ "$((size))" -gt 1000 ] && return
    echo "EstimatedSize under $1: '$size'; reg query says:"
    wine reg query "$1" 2>&1 | tr -d '\r'
    return 1
}
# The version resource of an executable holds `text` (its strings are UTF-16).
version_text_holds() {
    wrestool -x --raw --type=16 "$1" 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
        tr -d '\0' | grep -q "$2"
}
all_shipped() {
    local file
    for file in "${shipped[@]}"; do
        [ -f "$1/$file" ] || { echo "missing: $file"; return 1; }
    done
}
# Every Qt DLL a traced start loaded came from `dir` (a Windows path), Qt6Core.dll among them.
qt_only_from() {
    local trace=$1 dir=$2
    local prefix="Loaded L\"${dir//\\/\\\\}\\\\" # as Wine's trace writes it, each \ doubled
    grep -qF "${prefix}Qt6Core.dll\"" "$trace" &&
        ! grep -E 'Loaded L".*(Qt6[A-Za-z]*|qwindows|qwindowsvistastyle|qoffscreen)\.dll"' \
            "$trace" | grep -vF "$prefix"
}
plugins_loaded() { grep -q 'platforms\\\\qwindows.dll' "$1" && grep -q 'qwindowsvistastyle.dll' "$1"; }
# A traced run of quorvane-cli.exe that printed its version and loaded none of Qt's DLLs.
no_qt_loaded() {
    grep -q "quorvane-cli $version" "$1" &&
        ! grep -E 'Loaded L".*(Qt6[A-Za-z]*|qwindows|qwindowsvistastyle)\.dll"' "$1"
}
# The MinGW runtime is linked into every executable and DLL: none of its DLLs ships or loads.
no_mingw_runtime() {
    local runtime='(libstdc\+\+-6|libgcc_s_seh-1|libwinpthread-1)\.dll'
    ! ls "$1" | grep -E "^$runtime$" && ! grep -E "Loaded L\".*\\\\$runtime\"" "$2"
}

# --- For all users --------------------------------------------------------------------------
new_prefix machine
program_dir="$WINEPREFIX/drive_c/Program Files/Quorvane"
windows_dir='C:\Program Files\Quorvane'
check "the installer carries its version" version_text_holds "$installer" "$version"
check "the installer runs silently for all users" wine_wait "$installer" /S /AllUsers
check "every file lies under Program Files" all_shipped "$program_dir"
check "the uninstaller carries the version" version_text_holds "$program_dir/Uninstall.exe" \
    "$version"
check "a Start-menu shortcut for all users" test -f \
    "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvane/Quorvane.lnk"
check "registered under HKEY_LOCAL_MACHINE" key_exists "HKLM\\$uninstall_key"
check "with its folder" test "$(value_of "HKLM\\$uninstall_key" InstallLocation)" = "$windows_dir"
check "and its size" nonzero_size "HKLM\\$uninstall_key"
check "not under HKEY_CURRENT_USER" key_absent "HKCU\\$uninstall_key"

check "quorvane-cli.exe impose 4 succeeds" wine_wait "$windows_dir\\quorvane-cli.exe" impose 4
check "NoBrowserClose is 1 in the per-user hive" dword_is_one "$restrictions" NoBrowserClose
check "NoBrowserClose is 1 in the machine hive" \
    dword_is_one "${restrictions/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE}" NoBrowserClose

# Another Qt where Qt6Core.dll's own place would lead Qt without qt.conf: C:\Program Files\plugins.
mkdir -p "$WINEPREFIX/drive_c/Program Files/plugins/platforms" \
    "$WINEPREFIX/drive_c/Program Files/plugins/styles"
cp "$program_dir/platforms/qwindows.dll" "$WINEPREFIX/drive_c/Program Files/plugins/platforms/"
cp "$program_dir/styles/qwindowsvistastyle.dll" "$WINEPREFIX/drive_c/Program Files/plugins/styles/"
WINEDEBUG=+loaddll wine "$windows_dir\\quorvane-cli.exe" --version >"$scratch/cli.trace" 2>&1
check "quorvane-cli.exe loads no Qt DLL" no_qt_loaded "$scratch/cli.trace"
# The window, without a display, for as long as it takes to load its plugins.
WINEDEBUG=+loaddll wine "$windows_dir\\quorvane.exe" >"$scratch/gui.trace" 2>&1 &
for _ in $(seq 60); do plugins_loaded "$scratch/gui.trace" && break; sleep 0.5; done
sleep 1
wineserver -k
wait
check "quorvane.exe loads its plugins" plugins_loaded "$scratch/gui.trace"
check "quorvane.exe loads Qt from its own folder only" qt_only_from "$scratch/gui.trace" \
    "$windows_dir"
check "no MinGW runtime DLL ships or loads" no_mingw_runtime "$program_dir" "$scratch/gui.trace"

# An earlier installer kept the folder under the maker's key.
wine reg add 'HKLM\Software\Haldrix Software\Quorvane' /f >/dev/null 2>&1
check "the uninstaller runs silently" wine_wait "$windows_dir\\Uninstall.exe" /S
check "the program folder is gone" test ! -e "$program_dir"
check "the shortcut folder is gone" test ! -e \
    "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvane"
check "the uninstall entry is gone" key_absent "HKLM\\$uninstall_key"
check "the maker's empty key is gone" key_absent 'HKLM\Software\Haldrix Software'
wineserver -k

# --- For the current user -------------------------------------------------------------------
new_prefix user
home=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public | head -n1)
user_dir="$home/AppData/Local/Programs/Quorvane"
check "the installer runs silently for the current user" wine_wait "$installer" /S /CurrentUser
check "every file lies under %LOCALAPPDATA%\\Programs" all_shipped "$user_dir"
check "a Start-menu shortcut for the user" test -f \
    "$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvane/Quorvane.lnk"
check "registered under HKEY_CURRENT_USER" key_exists "HKCU\\$uninstall_key"
check "with its size" nonzero_size "HKCU\\$uninstall_key"
check "nothing under HKEY_LOCAL_MACHINE" key_absent "HKLM\\$uninstall_key"
check "nothing under Program Files" test ! -e "$WINEPREFIX/drive_c/Program Files/Quorvane"
user_windows_dir=$(value_of "HKCU\\$uninstall_key" InstallLocation)
check "quorvane-cli.exe impose 4 succeeds there" \
    wine_wait "$user_windows_dir\\quorvane-cli.exe" impose 4
# Started from its folder without a mode switch, the uninstaller finds the user's installation.
check "the uninstaller runs silently" wine_wait "$user_windows_dir\\Uninstall.exe" /S
check "the program folder is gone" test ! -e "$user_dir"
check "the shortcut folder is gone" test ! -e \
    "$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvane"
check "the uninstall entry is gone" key_absent "HKCU\\$uninstall_key"
wineserver -k

# --- A newer version over an older one -----------------------------------------------------
if [ -n "$cpack_config" ]; then
    old_version=0.0.9
    cpack --config "$cpack_config" -G NSIS -R "$old_version" -B "$scratch/old" >/dev/null 2>&1
    old_installer=$(find "$scratch/old" -maxdepth 1 -name '*.exe' | head -n1)
    check "an older installer is made" test -n "$old_installer"
    new_prefix upgrade
    program_dir="$WINEPREFIX/drive_c/Program Files/Quorvane"
    check "the older version installs" wine_wait "$old_installer" /S
    check "as $old_version" test "$(value_of "HKLM\\$uninstall_key" DisplayVersion)" = \
        "$old_version"
    printf '[Mail]\r\nServer=mail.example.test\r\n' >"$program_dir/quorvane.ini"
    check "the newer one installs over it" wine_wait "$installer" /S
    check "in the same folder, with every file" all_shipped "$program_dir"
    check "registered once, as $version" \
        test "$(value_of "HKLM\\$uninstall_key" DisplayVersion)" = "$version"
    check "the uninstaller is the newer one" version_text_holds "$program_dir/Uninstall.exe" \
        "$version"
    check "the changed quorvane.ini is kept" grep -q 'Server=mail.example.test' \
        "$program_dir/quorvane.ini"
    check "it uninstalls cleanly" wine_wait 'C:\Program Files\Quorvane\Uninstall.exe' /S
    check "leaving no folder" test ! -e "$program_dir"
    check "and no entry" key_absent "HKLM\\$uninstall_key"
    wineserver -k
fi

[ "$failures" -eq 0 ]
