#!/usr/bin/env bash
# Usage: debian-root.sh SUITE COMMAND [ARG...]   (as root, or through sudo)
#
# Runs COMMAND as root in a throwaway Debian root of SUITE (trixie, ...), in
# /work/tarnwick: a clone of this repository's committed HEAD, with a copy of
# ../shared at /work/shared beside it, as CI has them. Exits with COMMAND's
# status.
#
# Everything happens in a private mount and PID namespace: the root's mounts
# (proc, sys, dev, a tmpfs on /tmp) and every process started in it end with
# the run, and the host's mounts are never touched. The root is an overlay on
# a base root that debootstrap makes once from Debian's archive (variant
# minbase) and keeps in $TARNWICK_ROOT_CACHE (default /var/cache/tarnwick);
# the run's changes go to a temporary folder that is removed afterwards, so
# the base stays as debootstrap left it. A base is made in a temporary folder
# and renamed into place only when debootstrap succeeded, so a half-made one
# is never used. Downloaded packages are kept in the cache too (apt checks
# them against the archive's lists before use); delete the folder to start
# from nothing.
#
# TARNWICK_DEBIAN_MIRROR names another archive (default http://deb.debian.org/debian).
# TARNWICK_ROOT_OUTPUT names a host folder (made if missing) that appears in
# the root as /work/output, read-write, so that COMMAND can leave files (a
# built package, logs) that outlive the root; without it there is none.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 SUITE COMMAND [ARG...]" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=TARNWICK_ROOT_CACHE,TARNWICK_DEBIAN_MIRROR,TARNWICK_ROOT_OUTPUT,CI -- "$0" "$@"
fi
if [ -z "${TARNWICK_IN_PRIVATE_NAMESPACE:-}" ]; then
    exec env TARNWICK_IN_PRIVATE_NAMESPACE=1 \
        unshare --mount --propagation private --pid --fork --kill-child=SIGTERM -- "$0" "$@"
fi

suite=$1
shift
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# -P: where ../shared is a symbolic link, the copy below takes the folder it
# names, not the link (which would point at itself inside the root).
shared=$(cd "$top/../shared" 2>/dev/null && pwd -P) || {
    echo "$0: $top/../shared is missing: the tests read their fixtures from there" >&2
    exit 1
}
mirror=${TARNWICK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${TARNWICK_ROOT_CACHE:-/var/cache/tarnwick}
base=$cache/roots/$suite-minbase
output=
if [ -n "${TARNWICK_ROOT_OUTPUT:-}" ]; then
    mkdir -p "$TARNWICK_ROOT_OUTPUT"
    output=$(cd "$TARNWICK_ROOT_OUTPUT" && pwd)
fi

if ! command -v debootstrap >/dev/null; then
    echo "Installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap ||
        { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
          DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap; }
fi

# One base at a time: a second run waits for the first to finish making it.
mkdir -p "$cache/roots" "$cache/apt-archives"
exec 9>"$cache/roots/.lock"
flock 9
if [ ! -e "$base/.tarnwick-complete" ]; then
    rm -rf --one-file-system "$base" "$base".partial.*
    partial=$(mktemp -d "$base.partial.XXXXXX")
    echo "Making a Debian $suite root with debootstrap (kept in $base)"
    started=$SECONDS
    debootstrap --variant=minbase "$suite" "$partial" "$mirror" >"$partial.log" 2>&1 || {
        tail -n 20 "$partial.log" >&2
        echo "$0: debootstrap of $suite failed (log: $partial.log)" >&2
        exit 1
    }
    rm -f "$partial.log"
    touch "$partial/.tarnwick-complete"
    mv "$partial" "$base"
    echo "Made the $suite root in $((SECONDS - started)) s"
fi
flock -u 9

# Copies the downloaded packages of FROM into TO, as hard links where both
# are on one file system, leaving the files TO already has.
keep_packages() {
    find "$1" -maxdepth 1 -name '*.deb' -type f -exec cp -l -n -t "$2" {} + 2>/dev/null ||
        find "$1" -maxdepth 1 -name '*.deb' -type f -exec cp -n -t "$2" {} + 2>/dev/null || true
}

work=$(mktemp -d "${TMPDIR:-/var/tmp}/tarnwick-$suite.XXXXXX")
root=$work/root
cleanup() {
    # Unmount first: removing the folder through a bind mount of /dev would
    # reach the host's own files.
    umount -R "$root" 2>/dev/null || umount -R -l "$root" 2>/dev/null || true
    keep_packages "$work/archives" "$cache/apt-archives"
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
mkdir -p "$root" "$work/upper" "$work/overlay-work"
if ! mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/overlay-work" "$root" 2>/dev/null; then
    # Some file systems cannot hold an overlay's upper folder: copy instead,
    # into a mount of its own, so that one unmount ends every mount below it.
    mount --bind "$root" "$root"
    cp -a "$base/." "$root/"
fi

mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
mount --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
# Each run downloads into a folder of its own (apt locks it while it
# downloads, and runs may overlap), seeded from the cache and saved back to it.
mkdir -p "$work/archives/partial"
keep_packages "$cache/apt-archives" "$work/archives"
mount --bind "$work/archives" "$root/var/cache/apt/archives"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

mkdir -p "$root/work"
git -c safe.directory='*' clone --quiet --no-hardlinks "$top" "$root/work/tarnwick"
cp -r "$shared" "$root/work/shared"
if [ -n "$output" ]; then
    mkdir -p "$root/work/output"
    mount --bind "$output" "$root/work/output"
fi

# This shell is the namespace's first process: when it is told to stop (a
# timeout, Ctrl-C) it ends every other process in the namespace, then cleans
# up. It waits in the background because a shell runs its traps only between
# commands.
stop() {
    kill -TERM -1 2>/dev/null || true
    sleep 2
    kill -KILL -1 2>/dev/null || true
    exit 143
}
trap stop TERM INT HUP
status=0
chroot "$root" /usr/bin/env -i \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 ${CI:+CI="$CI"} \
    /bin/bash -c 'cd /work/tarnwick && exec "$@"' command "$@" </dev/null &
wait $! || status=$?
exit "$status"
