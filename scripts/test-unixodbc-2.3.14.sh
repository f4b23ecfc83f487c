#!/usr/bin/env bash
# Usage: test-unixodbc-2.3.14.sh   (as root, or through sudo)
#
# Runs the tests that go through the real libodbcinst (the setup library's,
# and the core's through the system installer) against unixODBC 2.3.14, the
# release Debian unstable carries, which holds its config-mode lock across
# the whole ConfigDSN call.
#
# The root is Debian 13 with only unixODBC's packages taken from unstable
# (pinned low, so nothing else follows): compiler, GoogleTest and mdbtools stay
# those of a stable release, so a failure here points at unixODBC and not at
# whatever else moved in unstable that day, and the Debian 13 base root that
# test-debian-release.sh keeps is reused. The run's changes live in a throwaway
# overlay (scripts/debian-root.sh), so that base stays plain Debian 13.
#
# A setup library that blocks on the lock makes each test hang: every test
# has 60 s, the whole run TARNWICK_ODBC_RUN_MINUTES (default 20), so a hang
# fails instead of stalling CI.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
minutes=${TARNWICK_ODBC_RUN_MINUTES:-20}
# Unstable comes from the archive the machine's apt uses (or
# TARNWICK_DEBIAN_MIRROR), as the Debian 13 root does.
. "$here/debian-lib.sh"
archive=$(debian_archive)

# Runs in the root, in the clone. Unstable's Release file is valid for a week
# only; an archive that serves it older than that is still the release we want.
read -r -d '' in_root <<'EOF' || true
set -euo pipefail
echo "deb [check-valid-until=no] $1 unstable main" >/etc/apt/sources.list.d/unstable.list
printf 'Package: *\nPin: release a=unstable\nPin-Priority: 100\n' >/etc/apt/preferences.d/unstable
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
odbc=(unixodbc unixodbc-dev unixodbc-common libodbc2 libodbcinst2 libodbccr2)
apt-get install -y -q --no-install-recommends build-essential cmake pkg-config libgtest-dev \
    libsqliteodbc mdbtools-dev libsqlite3-dev libicu-dev "${odbc[@]/%//unstable}"
apt-cache policy libodbcinst2
version=$(dpkg-query -W -f='${Version}' libodbcinst2)
case "$version" in
    2.3.14*) echo "Testing against unixODBC $version" ;;
    *) echo "libodbcinst2 is $version, not 2.3.14" >&2; exit 1 ;;
esac

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_UI=OFF -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$(nproc)"
status=0
for suite in driver_setup dsn; do
    ctest --test-dir "build/tests/$suite" --timeout 60 -j"$(nproc)" --output-on-failure || status=1
done
exit "$status"
EOF

exec timeout --kill-after=30 "$((minutes * 60))" \
    "$here/debian-root.sh" trixie bash -c "$in_root" in-root "$archive"
