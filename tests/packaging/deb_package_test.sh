#!/usr/bin/env bash
# Builds the Debian package from the build tree with CPack (as `--target package` does, into a
# scratch directory) and checks it as dpkg, lintian and a user see it: its control fields, its
# files, the layout after unpacking it into a throw-away root, and that the unpacked program
# runs.
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
deb=$work/quorvane_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work")"

# Control fields. The package's name, version and architecture are in its file name, checked
# above; lintian, below, checks the maintainer's address.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
depends=$(field Depends)
depended=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$depends" | tr ',' '\n' | awk '{ print $1 }')
# dpkg-shlibdeps names the libraries the programs link; fonts-liberation is named by hand.
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
    fonts-liberation; do
    grep -qx -- "$package" <<<"$depended" || fail "Depends lacks $package: $depends"
done
description=$(field Description)
[ "$(head -n1 <<<"$description")" = "Browser and system policy restriction manager" ] ||
    fail "the synopsis is: $(head -n1 <<<"$description")"
grep -q "24 browser and system policy restrictions" <<<"$description" ||
    fail "the long description is not the README's introduction: $description"
! grep -q '`' <<<"$description" || fail "Markdown left in the description"

# Every file belongs to root, as dpkg installs it.
owners=$(dpkg-deb --contents "$deb" | awk '{ print $2 }' | sort -u)
[ "$owners" = root/root ] || fail "files owned by $owners"

# The layout, unpacked into a throw-away root.
root=$work/root
dpkg-deb --extract "$deb" "$root"
"$here/../startup/check_installed_layout.sh" "$root/usr"
docs=$root/usr/share/doc/quorvane
[ -s "$docs/copyright" ] || fail "no copyright file"
changelog_version=$(zcat "$docs/changelog.gz" | sed -n '1s/^quorvane (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
    fail "the changelog's latest entry is ${changelog_version:-unreadable}, the package $version"
for file in cli-json.md cli-json.schema.json cli-why-json.schema.json cli-fix-json.schema.json; do
    [ -f "$docs/$file" ] || fail "no $file in $docs"
done
[ "$("$root/usr/bin/quorvane-cli" --version)" = "quorvane-cli $version" ] ||
    fail "the unpacked quorvane-cli does not run: $("$root/usr/bin/quorvane-cli" --version 2>&1)"

# Debian's own checks: no error, no warning.
lintian --allow-root --fail-on error,warning "$deb" ||
    fail "lintian found errors or warnings"
echo "package ok: $(basename "$deb")"
