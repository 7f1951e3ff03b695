#!/usr/bin/env bash
# quorvane-cli of the static build as a rescue system runs it: one file that needs nothing else.
# - it has no NEEDED entry (readelf -d) and no program interpreter (readelf -l);
# - in an empty root (a folder that holds only the program and a Windows installation, with the
#   kernel's /proc, in a mount namespace of its own) it imposes and then lifts a restriction for
#   one user, and Samba's regtree, from outside, reads each change in the user's hive.
#
# usage: static_cli_test.sh QUORVANE_CLI MAKE_FAKE_INSTALLATION
# Exits 77 (skipped) without root, which chroot and the mount namespace need.
set -euo pipefail
cli=$1
make_fake_installation=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

readelf -d "$cli" | grep -q '(NEEDED)' && fail "$cli needs libraries: $(readelf -d "$cli" | grep NEEDED)"
readelf -l "$cli" | grep -q 'INTERP' && fail "$cli names a program interpreter"
echo "ok: no library needed, no interpreter"

[ "$(id -u)" -eq 0 ] || { echo "SKIP: the empty root needs root (chroot, a mount namespace)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/proc"
cp "$cli" "$root/quorvane-cli"
"$make_fake_installation" "$root/win"
hive=$root/win/users/Ann/NTUSER.DAT

# The program alone in the root, with no variable of this system's environment.
chroot=$(command -v chroot)
in_empty_root() {
    unshare --mount --pid --fork -- sh -c 'chroot=$1 && shift && mount -t proc proc "$0/proc" &&
        exec env -i XDG_STATE_HOME=/state "$chroot" "$0" /quorvane-cli "$@"' "$root" "$chroot" "$@"
}
restriction() { regtree -s /dev/null -F "$hive" 2>/dev/null | grep -c 'NoBrowserClose = REG_DWORD : 0x00000001' || true; }

out=$(in_empty_root --windows /win --user ann impose 4) || fail "impose exits $?: $out"
grep -q 'HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE 1' <<<"$out" || fail "impose says: $out"
[ "$(restriction)" -eq 1 ] || fail "regtree does not see NoBrowserClose in $hive"
out=$(in_empty_root --windows /win --user ann lift NoBrowserClose) || fail "lift exits $?: $out"
grep -q 'HKEY_CURRENT_USER absent, HKEY_LOCAL_MACHINE absent' <<<"$out" || fail "lift says: $out"
[ "$(restriction)" -eq 0 ] || fail "regtree still sees NoBrowserClose in $hive"
regtree -s /dev/null -F "$hive" 2>/dev/null | grep -q Restrictions || fail "regtree cannot read $hive"
echo "ok: imposed and lifted for Ann in an empty root"
