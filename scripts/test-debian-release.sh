#!/usr/bin/env bash
# Usage: test-debian-release.sh [SUITE]   (as root, or through sudo)
#
# Runs the test command, scripts/test.sh, as a new user would on a fresh
# Debian SUITE machine (default trixie, Debian 13): in a throwaway root made by
# scripts/debian-root.sh, from this repository's committed HEAD, so the
# packages come from that release through the project's own install step.
# Every step runs there, fuzzing and the sanitized build included, since Qt,
# the compilers and the sanitizers differ between releases; only the
# end-to-end test through a real polkit is left out, as it needs services a
# bare root does not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
suite=${1:-trixie}
exec "$here/debian-root.sh" "$suite" \
    env TARNWICK_POLKIT_E2E=skip scripts/test.sh
