#!/usr/bin/env bash
# Usage: check-format.sh [CLANG_FORMAT]
# Checks that every C and C++ file of the project is laid out as .clang-format
# says. Layout differs a little between clang-format releases, so the check
# holds the files to clang-format 14 (Debian 12's) and skips (exit 77) with
# another release.
set -euo pipefail

format=${1:-clang-format}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
version=$("$format" --version)
case "$version" in
    *"version 14."*) ;;
    *) echo "SKIP: $version is not clang-format 14"; exit 77 ;;
esac
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
"$format" --dry-run -Werror "${files[@]}"
echo "${#files[@]} files laid out as .clang-format says"
