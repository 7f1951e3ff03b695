#!/usr/bin/env bash
# Builds the Debian packages from the build tree with CPack (as `--target package` does, into a
# scratch directory) and checks them as dpkg, lintian and a user see them: quorvane (the window)
# and quorvane-cli (the command line, which needs no Qt), their control fields, their files, the
# layout after unpacking both into a throw-away root, and that the unpacked programs run.
#
# usage: deb_package_test.sh BUILD_DIR VERSION
set -euo pipefail
build_dir=$1
version=$2
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in cpack dpkg-deb lintian; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/packages.sh installs it)"
done

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
window=$work/quorvane_${version}_amd64.deb
cli=$work/quorvane-cli_${version}_amd64.deb
for deb in "$window" "$cli"; do
    [ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work")"
done

# Control fields. The packages' names, version and architecture are in their file names,
# checked above; lintian, below, checks the maintainer's address.
field() { dpkg-deb --field "$1" "$2"; }
depended() {
    sed 's/([^)]*)//g; s/|/,/g' <<<"$(field "$1" Depends)" | tr ',' '\n' | awk '{ print $1 }'
}
# dpkg-shlibdeps names the libraries the programs link; fonts-liberation is named by hand.
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
    fonts-liberation; do
    depended "$window" | grep -qx -- "$package" ||
        fail "quorvane's Depends lacks $package: $(field "$window" Depends)"
done
for package in libc6 libstdc++6 libhivex0; do
    depended "$cli" | grep -qx -- "$package" ||
        fail "quorvane-cli's Depends lacks $package: $(field "$cli" Depends)"
done
! depended "$cli" | grep -q 'qt' || fail "quorvane-cli depends on Qt: $(field "$cli" Depends)"
grep -q "^quorvane-cli (= $version)" <<<"$(field "$window" Recommends)" ||
    fail "quorvane does not recommend its command line: $(field "$window" Recommends)"
for deb in "$window" "$cli"; do
    [ "$(field "$deb" Section)" = utils ] || fail "Section: $(field "$deb" Section)"
    description=$(field "$deb" Description)
    [ "$(head -n1 <<<"$description")" = "Browser and system policy restriction manager" ] ||
        fail "the synopsis is: $(head -n1 <<<"$description")"
    grep -q "24 browser and system policy restrictions" <<<"$description" ||
        fail "the long description is not the README's introduction: $description"
    ! grep -q '`' <<<"$description" || fail "Markdown left in the description"
    # Every file belongs to root, as dpkg installs it.
    owners=$(dpkg-deb --contents "$deb" | awk '{ print $2 }' | sort -u)
    [ "$owners" = root/root ] || fail "files of $(basename "$deb") owned by $owners"
done
# Each program in its own package, and nothing twice.
contents() { dpkg-deb --contents "$1" | awk '{ print $6 }' | grep -v '/$'; }
contents "$cli" | grep -q '/quorvane$' && fail "quorvane-cli holds the window"
contents "$window" | grep -q 'quorvane-cli' && fail "quorvane holds the command line"
both=$(comm -12 <(contents "$window" | sort) <(contents "$cli" | sort))
[ -z "$both" ] || fail "files in both packages: $both"

# The layout, both packages unpacked into a throw-away root.
root=$work/root
dpkg-deb --extract "$window" "$root"
dpkg-deb --extract "$cli" "$root"
"$here/../startup/check_installed_layout.sh" "$root/usr"
for package in quorvane quorvane-cli; do
    docs=$root/usr/share/doc/$package
    [ -s "$docs/copyright" ] || fail "no copyright file in $docs"
    changelog_version=$(zcat "$docs/changelog.gz" | sed -n '1s/^quorvane (\([^)]*\)).*/\1/p')
    [ "$changelog_version" = "$version" ] ||
        fail "$package's latest changelog entry is ${changelog_version:-unreadable}, not $version"
done
for file in cli-json.md cli-json.schema.json cli-why-json.schema.json cli-fix-json.schema.json; do
    [ -f "$root/usr/share/doc/quorvane-cli/$file" ] || fail "no $file in quorvane-cli's docs"
done
[ "$("$root/usr/bin/quorvane-cli" --version)" = "quorvane-cli $version" ] ||
    fail "the unpacked quorvane-cli does not run: $("$root/usr/bin/quorvane-cli" --version 2>&1)"

# Debian's own checks: no error, no warning.
lintian --allow-root --fail-on error,warning "$window" "$cli" ||
    fail "lintian found errors or warnings"
echo "packages ok: $(basename "$window") $(basename "$cli")"
