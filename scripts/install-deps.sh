#!/usr/bin/env bash
# Usage: install-deps.sh run|test
#
# Installs the Debian packages of packages.txt that are not installed yet:
# `run` those that building and running the program need, `test` those and
# what the tests add. Runs apt-get only when something is missing (update
# first, then install, without questions); uses sudo when not root.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case "${1:-}" in
    run) sections=(run) ;;
    test) sections=(run test) ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

# The names of the chosen sections, comments and blank lines left out.
listed_names() {
    awk -v wanted=" ${sections[*]} " '
        /^[[:space:]]*(#|$)/ { next }
        /^\[.*\]$/ { section = substr($0, 2, length($0) - 2); next }
        index(wanted, " " section " ") { print $1 }
    ' "$here/packages.txt"
}

# The major version of the release's default clang, from the installed clang
# package or, before it is installed, from apt's candidate for it: the
# version looks like 1:14.0-55.7~deb12u1 (Debian 12) or 1:19.0-63 (13).
clang_major() {
    local version
    version=$(dpkg-query -W -f='${db:Status-Status} ${Version}' clang 2>/dev/null | sed -n 's/^installed //p')
    if [ -z "$version" ]; then
        version=$(apt-cache policy clang 2>/dev/null | sed -n 's/^ *Candidate: *//p')
    fi
    version=${version#*:}
    version=${version%%.*}
    case "$version" in
        '' | *[!0-9]*) return 1 ;;
    esac
    echo "$version"
}

# Fills `wanted` with the names, the release-dependent ones resolved; fails
# when one cannot be resolved yet (no package lists, or none names clang).
resolve_names() {
    local name major=
    wanted=()
    while read -r name; do
        if [[ "$name" == *@CLANG_MAJOR@* ]]; then
            [ -n "$major" ] || major=$(clang_major) || return 1
            name=${name//@CLANG_MAJOR@/$major}
        fi
        if [[ "$name" == *'?' ]]; then
            # Only where the release has it (the tests that need it skip).
            name=${name%'?'}
            case "$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: *//p')" in
                '' | '(none)') continue ;;
            esac
        fi
        wanted+=("$name")
    done < <(listed_names)
}

find_missing() {
    local name status
    missing=()
    for name in "${wanted[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true)
        [ "$status" = installed ] || missing+=("$name")
    done
}

if resolve_names; then
    find_missing
    [ ${#missing[@]} -eq 0 ] && exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
        echo "Please run as root or install sudo: packages are missing ($(listed_names | tr '\n' ' '))" >&2
        exit 1
    }
    sudo=(sudo)
fi
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q
resolve_names || {
    echo "$0: apt knows no clang package to choose the matching clang runtime for" >&2
    exit 1
}
find_missing
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing packages: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
