#!/usr/bin/env bash
# Usage: test-debian-release.sh [SUITE]   (as root, or through sudo)
#
# Runs the test command, scripts/test.sh, as a new user would on a fresh
# Debian SUITE machine (default trixie, Debian 13): in a throwaway root made by
# scripts/debian-root.sh, from this repository's committed HEAD, so the
# packages come from that release through the project's own install step.
# Fuzzing and the sanitized build are left to the run on the main machine
# (TARNWICK_TEST_SCOPE=release), and so is the end-to-end test through a real
# polkit, which needs services a bare root does not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
suite=${1:-trixie}
exec "$here/debian-root.sh" "$suite" \
    env TARNWICK_TEST_SCOPE=release TARNWICK_POLKIT_E2E=skip scripts/test.sh
