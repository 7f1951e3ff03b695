#!/bin/bash
# Installs the Windows installer silently into a fresh Wine prefix, imposes restriction 4 with the
# installed quorvane-cli.exe, checks both hives with Wine's own `reg`, and uninstalls: nothing of
# the program may stay behind. The prefix is removed afterwards.
# Usage: windows_installer_test.sh INSTALLER.exe
set -u

installer=${1:?usage: $0 INSTALLER.exe}
if [ ! -f "$installer" ]; then
    echo "no installer at $installer: build it with 'cmake --build --preset mingw --target package'"
    exit 1
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-install.XXXXXXXX") || exit 1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
    wineserver -k >/dev/null 2>&1
    rm -rf -- "$prefix"
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

program_dir="$prefix/drive_c/Program Files/Quorvane"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvane/Quorvane.lnk"
restrictions='HKEY_CURRENT_USER\Software\Policies\Microsoft\Internet Explorer\Restrictions'
uninstall_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'

# Holds `value` as REG_DWORD 0x1 under `key` of the prefix's registry.
dword_is_one() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -Eq "^ +$2 +REG_DWORD +0x1$"
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
key_absent() { ! key_exists "$1"; }

wineboot -i >/dev/null 2>&1
wineserver -w

check "the installer runs silently" wine_wait "$installer" /S
for file in quorvane.exe quorvane-cli.exe Help.htm quorvane.ini README.txt licence.txt \
    Uninstall.exe; do
    check "installed $file under Program Files" test -f "$program_dir/$file"
done
check "a Start-menu shortcut for all users" test -f "$shortcut"
check "registered for uninstalling" key_exists "$uninstall_key"

check "quorvane-cli.exe impose 4 succeeds" \
    wine_wait 'C:\Program Files\Quorvane\quorvane-cli.exe' impose 4
check "NoBrowserClose is 1 in the per-user hive" dword_is_one "$restrictions" NoBrowserClose
check "NoBrowserClose is 1 in the machine hive" \
    dword_is_one "${restrictions/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE}" NoBrowserClose

# The program's first start writes its manifest beside it; the uninstaller must take it too.
touch "$program_dir/quorvane.exe.MANIFEST"
check "the uninstaller runs silently" wine_wait 'C:\Program Files\Quorvane\Uninstall.exe' /S
check "the program directory is gone" test ! -e "$program_dir"
check "the shortcut is gone" test ! -e "$shortcut"
check "the uninstall entry is gone" key_absent "$uninstall_key"

[ "$failures" -eq 0 ]
