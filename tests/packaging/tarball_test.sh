#!/usr/bin/env bash
# Builds the tarball of the static quorvane-cli from the build tree with CPack (as
# `--target package` does, into a scratch directory) and checks it as someone who downloads it
# to a rescue system does: its name and its one folder, the program (static, stripped, runs),
# the manual page and completion, the licence and the third-party notices (every library linked
# in, with its version and licence), and that the notices' relink instructions give a working
# program.
#
# usage: tarball_test.sh BUILD_DIR VERSION
set -euo pipefail
build_dir=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -G TGZ -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
name=quorvane-cli-$version-linux-$(uname -m)
tarball=$work/$name.tar.gz
[ -f "$tarball" ] || fail "no $(basename "$tarball"); cpack made: $(ls "$work")"

listed=$(tar -tzf "$tarball" | grep -v '/$' | sort | tr '\n' ' ')
expected="$name/LICENCE.txt $name/THIRD-PARTY-NOTICES.txt $name/quorvane-cli $name/quorvane-cli.1.gz $name/quorvane-cli.bash $name/relink/quorvane-cli.o "
[ "$listed" = "$expected" ] || fail "the tarball holds: $listed"
tar -xzf "$tarball" -C "$work"
kit=$work/$name

# The program: one file that needs nothing, stripped of its symbol table.
[ "$("$kit/quorvane-cli" --version)" = "quorvane-cli $version" ] || fail "the program does not run"
! readelf -d "$kit/quorvane-cli" | grep -q NEEDED || fail "the program needs libraries"
[ -z "$(readelf -S "$kit/quorvane-cli" | grep -w symtab)" ] || fail "the program is not stripped"
gzip -t "$kit/quorvane-cli.1.gz" || fail "the manual page is no gzip file"
bash -n "$kit/quorvane-cli.bash" && grep -q '^complete -F [_a-z]* quorvane-cli$' "$kit/quorvane-cli.bash" ||
    fail "the completion registers nothing for quorvane-cli"

# The notices name every library linked in, its version and licence; nothing is left unfilled.
notices=$kit/THIRD-PARTY-NOTICES.txt
! grep -n '@[A-Z_]*@' "$notices" || fail "placeholders left in the notices"
hivex=$(pkg-config --modversion hivex)
glibc=$(getconf GNU_LIBC_VERSION | awk '{ print $2 }')
for text in "hivex $hivex" "GNU C Library $glibc" "CLI11 2" "nlohmann/json) 3" \
    "GNU LESSER GENERAL PUBLIC LICENSE" "Version 2.1, February 1999" "Runtime Library Exception" \
    "g++ -static-pie -o quorvane-cli relink/quorvane-cli.o"; do
    grep -qF -- "$text" "$notices" || fail "the notices do not say: $text"
done
grep -q 'relink' "$kit/LICENCE.txt" || fail "the licence does not allow relinking"

# The relink the notices describe, with this system's libraries, gives a program that works.
command -v g++ >/dev/null || fail "g++ is missing (scripts/packages.sh installs build-essential)"
g++ -static-pie -o "$work/relinked" "$kit/relink/quorvane-cli.o" -lhivex 2>"$work/relink.log" ||
    { cat "$work/relink.log" >&2; fail "the relink failed"; }
mkdir "$work/registry"
out=$(QUORVANE_CONFIG=/dev/null "$work/relinked" --registry "$work/registry" list) ||
    fail "the relinked program fails: $out"
grep -q 'Closing Internet Explorer' <<<"$out" || fail "the relinked program lists: $out"
echo "tarball ok: $(basename "$tarball"), $(du -h "$tarball" | cut -f1)"
