#!/bin/bash
# Names outside every ANSI code page, under Wine (run by run_under_wine.sh --script, in a prefix
# of its own whose user is called Жанна):
# - quorvane-cli.exe export writes exactly the file named, in folders such as C:\Tools Å and
#   C:\Программы, and says so in UTF-8 to a pipe and in the right characters on a console;
# - why finds what the Startup folder of the user Жанна holds;
# - quorvane.exe started in C:\Программы\Quorvane writes its manifest there;
# - every command refuses --registry alike.
# Usage: unicode_under_wine.sh quorvane-cli.exe quorvane.exe
set -u
cli=${1:?usage: $0 quorvane-cli.exe quorvane.exe}
gui=${2:?usage: $0 quorvane-cli.exe quorvane.exe}
drive_c=$WINEPREFIX/drive_c

failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
out=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-unicode.XXXXXXXX") || exit 1
trap 'rm -rf -- "$out"' EXIT
holds() { grep -qF -- "$2" "$1"; }
is_reg_file() { head -c 200 "$1" | iconv -f UTF-16 -t UTF-8 2>/dev/null | grep -q 'Windows Registry Editor'; }

# export: the file named, byte for byte, and nothing else touched.
mkdir -p "$drive_c/Tools Å" "$drive_c/Программы"
echo "keep me" >"$drive_c/Tools Å/Lodz.reg"
for name in 'Tools Å\€uro.reg' 'Tools Å\Łódź.reg' 'Программы\Жанна.reg'; do
    unix_name=${name//\\//}
    wine "$cli" export "C:\\$name" >"$out/stdout" 2>"$out/stderr"
    check "export C:\\$name succeeds" test $? -eq 0
    check "it writes $unix_name" is_reg_file "$drive_c/$unix_name"
    check "and says so in UTF-8" holds "$out/stdout" "C:\\$name"
done
check "no other file appears" test "$(find "$drive_c/Tools Å" -type f | wc -l)" -eq 3
check "a file of a similar name is left alone" holds "$drive_c/Tools Å/Lodz.reg" "keep me"

# On a console (a terminal, through script(1)) the characters show as they are.
script -qec "wine '$cli' export 'C:\\Tools Å\\€uro.reg'" /dev/null >"$out/console" 2>&1
check "the console shows C:\\Tools Å\\€uro.reg" holds "$out/console" 'C:\Tools Å\€uro.reg'

# why: a script in the Startup folder of the user Жанна that sets restriction 4.
startup=$(find "$drive_c/users" -maxdepth 1 -name 'Жанна')
check "the prefix's user is Жанна" test -n "$startup"
programs="$startup/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
# Wine makes it as "StartUp"; its own lookups ignore case, a second "Startup" would not be seen.
startup=$(find "$programs" -maxdepth 1 -iname startup | head -n1)
[ -n "$startup" ] || { startup="$programs/StartUp"; mkdir -p "$startup"; }
printf 'reg add "HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions" /v NoBrowserClose /t REG_DWORD /d 1 /f\r\n' \
    >"$startup/lock.cmd"
wine "$cli" why 4 >"$out/why" 2>&1
check "why says something sets restriction 4 again (exit 4)" test $? -eq 4
check "and names the script in Жанна's Startup folder" holds "$out/why" 'lock.cmd'

# The window's first start in C:\Программы\Quorvane writes the manifest beside itself.
mkdir -p "$drive_c/Программы/Quorvane"
cp "$gui" "$(dirname "$gui")/Help.htm" "$drive_c/Программы/Quorvane/"
wine 'C:\Программы\Quorvane\quorvane.exe' >/dev/null 2>&1 &
for _ in $(seq 60); do
    [ -f "$drive_c/Программы/Quorvane/quorvane.exe.MANIFEST" ] && break
    sleep 0.5
done
wineserver -k
wait
check "quorvane.exe writes C:\\Программы\\Quorvane\\quorvane.exe.MANIFEST" \
    grep -q 'name="quorvane.exe"' "$drive_c/Программы/Quorvane/quorvane.exe.MANIFEST"

# --registry: every command refuses it with the same message and changes nothing.
message="--registry is for hive files; on Windows the registry itself is used"
while IFS= read -r arguments; do
    # shellcheck disable=SC2086 # the arguments are split as a shell would split them
    wine "$cli" --registry 'C:\hives' $arguments >"$out/stdout" 2>"$out/stderr"
    status=$?
    check "$arguments --registry: exit 2" test "$status" -eq 2
    check "$arguments --registry: the one message" holds "$out/stderr" "$message"
    check "$arguments --registry: nothing on the standard output" test ! -s "$out/stdout"
done <<'COMMANDS'
list
impose 4
lift 4
remove-all
reset-pages
why
fix
export C:\refused.reg
export --policy user C:\refused.pol
undo
undo --list
COMMANDS
check "nothing was exported" test ! -e "$drive_c/refused.reg" -a ! -e "$drive_c/refused.pol"

[ "$failures" -eq 0 ]
