#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks the installed layout there.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
"$(dirname "$0")/check_installed_layout.sh" "$prefix"
echo "installed layout ok"
