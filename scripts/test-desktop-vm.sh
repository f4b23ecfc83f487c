#!/usr/bin/env bash
# Usage: test-desktop-vm.sh   (as root, or through sudo)
#
# Creates System DSNs the way a user meets the program: in a booted Debian 13
# virtual machine with logind, a system bus, polkitd, an X server and a
# graphical polkit agent, with the Tarnwick package installed from a .deb
# built from this repository's committed HEAD. A user `alice` (group sudo) is
# logged in automatically on tty1, and later `bob` (not in sudo) on tty2; the
# in-VM driver (tests/desktop_vm/) fills the window's fields and presses
# Create with xdotool, answers the agent's dialog, and reads the window's log
# through AT-SPI. Each case prints a PASS or FAIL line with its evidence; the
# exit status is non-zero when any case failed or the run did not finish.
#
#  1. The .deb is built for trixie in a throwaway root (scripts/debian-root.sh).
#  2. A VM root is made with debootstrap (scripts/debian-lib.sh, from the
#     archive this machine's apt sources name) and kept in
#     $TARNWICK_ROOT_CACHE/vm (default /var/cache/tarnwick/vm), made in a
#     temporary folder and renamed into place when complete; its name carries
#     a hash of what is installed in it, so a changed list makes a new one.
#     Each run lays an overlay on it, installs the .deb and the test files,
#     and packs the result into an ext4 image file (mkfs.ext4 -d, no
#     partitions) that qemu boots with the root's own kernel and initrd.
#  3. The VM has no network. Its results come out over its second serial
#     port (a file on the host) and, after it has powered off, screenshots
#     and logs are read out of the image with debugfs into the artifacts
#     folder, $TARNWICK_VM_ARTIFACTS (default build-desktop-vm/).
#
# KVM is used when /dev/kvm opens read-write and answers (`--kvm-usable`
# only tells that, by its exit status). Without it, or when the kernel's KVM
# cannot run Debian's kernel (a nested KVM that stops the guest at once with
# "KVM internal error ... emulation failure", or that fails to initialise),
# the script says so and boots the same image under software emulation
# (TCG: several times slower; the timeouts allow for it).
# TARNWICK_VM_ACCEL=kvm or tcg insists on one. TARNWICK_VM_TIMEOUT bounds the
# VM's run in seconds (default 900 with KVM, 1500 with TCG). TARNWICK_VM_DEB=FILE
# uses an already built package instead of building one.
# TARNWICK_DEBIAN_MIRROR names another archive.
#
# Everything runs in a private mount and PID namespace: every mount and every
# process (qemu included) ends with the script, and the work folder is removed.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=TARNWICK_ROOT_CACHE,TARNWICK_DEBIAN_MIRROR,TARNWICK_VM_ACCEL,TARNWICK_VM_TIMEOUT,TARNWICK_VM_DEB,TARNWICK_VM_ARTIFACTS -- "$0" "$@"
fi

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shared=$(cd "$top/../shared" 2>/dev/null && pwd -P) || {
    echo "$0: $top/../shared is missing: the fixtures are read from there" >&2
    exit 1
}
fixture=$shared/fixtures/dates.mdb
[ -r "$fixture" ] || { echo "$0: $fixture is missing" >&2; exit 1; }

# KVM is usable when /dev/kvm is a character device that opens read-write
# and answers KVM_GET_API_VERSION (a guest kernel may have the node, yet
# refuse the ioctl). Opening it from the shell would create a plain file
# where there is no node, so this asks python.
kvm_usable() {
    [ -c /dev/kvm ] && python3 -c '
import fcntl, os
fd = os.open("/dev/kvm", os.O_RDWR)
raise SystemExit(0 if fcntl.ioctl(fd, 0xAE00) == 12 else 1)' 2>/dev/null
}
if [ "${1:-}" = --kvm-usable ]; then
    kvm_usable
    exit
fi

# The accelerator is chosen before anything slow happens; "auto" may still
# fall back from KVM to TCG at boot (see section 3).
accel=${TARNWICK_VM_ACCEL:-auto}
case "$accel" in
    auto)
        if kvm_usable; then
            accel=kvm-or-tcg
        else
            echo "KVM cannot be used here (/dev/kvm is missing or does not answer read-write):" \
                "the VM runs under software emulation (TCG), which takes several minutes more."
            accel=tcg
        fi
        ;;
    kvm)
        kvm_usable || {
            echo "$0: TARNWICK_VM_ACCEL=kvm, but /dev/kvm is not usable (no read-write KVM device)" >&2
            exit 1
        }
        ;;
    kvm-or-tcg | tcg) ;;
    *) echo "$0: TARNWICK_VM_ACCEL is kvm or tcg, not '$accel'" >&2; exit 2 ;;
esac

if [ -z "${TARNWICK_IN_PRIVATE_NAMESPACE:-}" ]; then
    exec env TARNWICK_IN_PRIVATE_NAMESPACE=1 TARNWICK_VM_ACCEL="$accel" \
        unshare --mount --propagation private --pid --fork --kill-child=SIGTERM -- "$0" "$@"
fi

. "$top/scripts/debian-lib.sh"
archive=$(debian_archive)
cache=${TARNWICK_ROOT_CACHE:-/var/cache/tarnwick}
artifacts=${TARNWICK_VM_ARTIFACTS:-$top/build-desktop-vm}
suite=trixie
started_all=$SECONDS

say() { echo "== $*"; }

apt_install_host() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "$@" ||
        { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q &&
          DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "$@"; }
}
missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v debugfs >/dev/null || missing+=(e2fsprogs)
command -v qemu-img >/dev/null || missing+=(qemu-utils)
if [ ${#missing[@]} -gt 0 ]; then
    say "Installing ${missing[*]} on this machine"
    apt_install_host "${missing[@]}"
fi

work=$(mktemp -d "${TMPDIR:-/var/tmp}/tarnwick-desktop-vm.XXXXXX")
root=$work/root
cleanup() {
    # The root's own mounts go first, so that removing the folder never
    # reaches through a bind mount of /dev.
    umount -R "$root" 2>/dev/null || umount -R -l "$root" 2>/dev/null || true
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
# The namespace's first process: on a timeout or Ctrl-C it ends every other
# process in the namespace (qemu among them) before cleaning up.
stop() {
    kill -TERM -1 2>/dev/null || true
    sleep 2
    kill -KILL -1 2>/dev/null || true
    exit 143
}
trap stop TERM INT HUP

# --- 1. The package -------------------------------------------------------
if [ -n "${TARNWICK_VM_DEB:-}" ]; then
    deb=$(readlink -f "$TARNWICK_VM_DEB")
    say "Using the package $deb"
else
    say "Building the Tarnwick package for Debian 13 from committed HEAD ($(git -C "$top" rev-parse --short HEAD))"
    if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
        echo "   (the work tree has uncommitted changes: they are not in the package)"
    fi
    t=$SECONDS
    mkdir -p "$work/deb"
    TARNWICK_ROOT_OUTPUT=$work/deb "$top/scripts/debian-root.sh" "$suite" bash -c '
        set -e
        # What building and packaging need; the tests (and their
        # GoogleTest) are left out.
        scripts/install-deps.sh run >/work/output/build.log 2>&1
        { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF &&
          cmake --build build -j"$(nproc)" && (cd build && cpack -G DEB); } >>/work/output/build.log 2>&1
        cp build/tarnwick_*_amd64.deb /work/output/' || {
        tail -n 30 "$work/deb/build.log" >&2 || true
        echo "$0: building the package failed" >&2
        exit 1
    }
    deb=$(ls "$work"/deb/tarnwick_*_amd64.deb)
    say "Built $(basename "$deb") in $((SECONDS - t)) s"
fi

# --- 2. The VM's root -----------------------------------------------------
# Mounts what apt and maintainer scripts need in a root, and takes it down.
mount_root_fs() {
    mount -t proc proc "$1/proc"
    mount -t sysfs -o ro sysfs "$1/sys"
    mount --rbind /dev "$1/dev"
    mount --make-rslave "$1/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$1/tmp"
    mkdir -p "$cache/apt-archives/partial"
    mount --bind "$cache/apt-archives" "$1/var/cache/apt/archives"
    cp -L /etc/resolv.conf "$1/etc/resolv.conf"
}
umount_root_fs() {
    for m in var/cache/apt/archives tmp dev sys proc; do
        umount -R "$1/$m" 2>/dev/null || umount -R -l "$1/$m"
    done
    : >"$1/etc/resolv.conf"
}
in_root() {
    chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "${@:2}"
}

# What the VM has besides the package's own dependencies. The polkit agent
# is LXQt's, lxqt-policykit: a Qt 6 program, so beside Tarnwick it adds
# little more than liblxqt and polkit-qt6, it runs as a plain X client with no
# desktop session or window manager behind it, and its dialog is read through
# the same AT-SPI bridge as Tarnwick's window.
vm_packages=(
    linux-image-amd64 initramfs-tools systemd-sysv udev dbus dbus-user-session libpam-systemd
    polkitd pkexec sudo passwd login procps kmod
    xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core
    lxqt-policykit python3-pyatspi at-spi2-core
    unixodbc libsqliteodbc
)
# The package's dependencies, from its control file, so that installing it in
# each run needs nothing from the archive ("a (>= 1) | b" gives a).
deb_depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$' | sort -u)
base_list=$(printf '%s\n' "$suite" "${vm_packages[@]}" $deb_depends | sort -u)
base_key=$(printf '%s' "$base_list" | sha256sum | cut -c1-12)
base=$cache/vm/$suite-desktop-$base_key

# Installs the VM's packages into a freshly made root.
install_vm_packages() {
    local status=0
    mount_root_fs "$1"
    {
        in_root "$1" apt-get update -q &&
        in_root "$1" apt-get install -y -q --no-install-recommends "${vm_packages[@]}" $deb_depends
    } >>"$2" 2>&1 || status=$?
    umount_root_fs "$1"
    return "$status"
}
say "The VM's Debian $suite root: $base"
cached_debian_root "$base" "$suite" "$archive" install_vm_packages

say "Laying out this run's image"
t=$SECONDS
mkdir -p "$root" "$work/upper" "$work/overlay-work"
mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
mount_root_fs "$root"
cp "$deb" "$root/tmp/"
in_root "$root" apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" \
    >"$work/install.log" 2>&1 || {
    umount_root_fs "$root"
    tail -n 30 "$work/install.log" >&2
    echo "$0: installing the package in the VM root failed" >&2
    exit 1
}
alice_password="alice-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')"
bob_password="bob-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')"
in_root "$root" sh -e -c '
    useradd -m -s /bin/bash -G sudo alice
    useradd -m -s /bin/bash bob
    printf "%s\n" "alice:$1" "bob:$2" | chpasswd
    passwd -l root >/dev/null
' sh "$alice_password" "$bob_password"
umount_root_fs "$root"
rm -f "$root/.tarnwick-complete"

# The test files, the password alice's session types, the fixture.
vmfiles=$top/tests/desktop_vm
install -d -m 0755 "$root/usr/local/lib/tarnwick-vm"
install -m 0755 "$vmfiles/orchestrate.sh" "$vmfiles/session.sh" "$vmfiles/cases.py" \
    "$root/usr/local/lib/tarnwick-vm/"
install -m 0644 "$vmfiles/tarnwick-vm-test.service" "$root/etc/systemd/system/"
ln -sf ../tarnwick-vm-test.service "$root/etc/systemd/system/multi-user.target.wants/tarnwick-vm-test.service"
install -d -m 0755 "$root/var/lib/tarnwick-vm"
for user in alice bob; do
    uid=$(chroot "$root" id -u "$user")
    install -d -m 0700 -o "$uid" -g "$uid" "$root/var/lib/tarnwick-vm/$user" "$root/home/$user/Access"
    install -m 0644 -o "$uid" -g "$uid" "$fixture" "$root/home/$user/Access/dates.mdb"
    chmod 0755 "$root/home/$user" "$root/home/$user/Access"
    # A login on a virtual console starts the test session, once.
    cat >>"$root/home/$user/.profile" <<'EOF'
case "$(tty)" in
    /dev/tty1 | /dev/tty2)
        [ -e "/var/lib/tarnwick-vm/$USER/started" ] || exec /usr/local/lib/tarnwick-vm/session.sh ;;
esac
EOF
done
alice_uid=$(chroot "$root" id -u alice)
install -m 0600 -o "$alice_uid" -g "$alice_uid" /dev/null "$root/var/lib/tarnwick-vm/alice/password"
printf '%s\n' "$alice_password" >"$root/var/lib/tarnwick-vm/alice/password"
for tty_user in tty1:alice tty2:bob; do
    mkdir -p "$root/etc/systemd/system/getty@${tty_user%%:*}.service.d"
    cat >"$root/etc/systemd/system/getty@${tty_user%%:*}.service.d/autologin.conf" <<EOF
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin ${tty_user#*:} --noclear %I \$TERM
EOF
done
echo tarnwick-vm >"$root/etc/hostname"
printf '%s\n' '/dev/vda / ext4 rw,errors=remount-ro 0 1' >"$root/etc/fstab"
# Nothing in the VM is to wait for a network or fetch updates.
for unit in apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer man-db.timer \
    dpkg-db-backup.timer systemd-networkd-wait-online.service; do
    ln -sf /dev/null "$root/etc/systemd/system/$unit"
done

# The root's own kernel and initrd (the newest, should there be two).
kernel_version=$(ls "$root/lib/modules" | sort -V | tail -n 1)
cp "$root/boot/vmlinuz-$kernel_version" "$work/vmlinuz"
cp "$root/boot/initrd.img-$kernel_version" "$work/initrd.img"
size_mb=$(( $(du -sxm "$root" | cut -f1) + 768 ))
mkfs.ext4 -q -F -L tarnwick-vm -d "$root" "$work/image.ext4" "${size_mb}M"
umount "$root"
say "Image of ${size_mb} MiB ready in $((SECONDS - t)) s"

# --- 3. The run -----------------------------------------------------------
# Boots the image with accelerator $1 (kvm or tcg) on DRIVE ($2) and waits
# for qemu; sets qemu_status. Under KVM it watches qemu's messages, and when
# the host's KVM cannot run the guest (qemu fails to initialise it, or the
# guest stops with "KVM internal error", which leaves qemu paused until the
# timeout) it stops qemu at once and sets kvm_failed.
boot() {
    local accel_args timeout_s
    if [ "$1" = kvm ]; then
        accel_args=(-accel kvm -cpu host)
        timeout_s=${TARNWICK_VM_TIMEOUT:-900}
    else
        accel_args=(-accel tcg,thread=multi -cpu max)
        timeout_s=${TARNWICK_VM_TIMEOUT:-1500}
    fi
    say "Booting the VM with accelerator $1 (-smp 2 -m 2048, no network, at most $timeout_s s)"
    : >"$work/results.log"
    : >"$work/qemu.log"
    qemu_status=0
    kvm_failed=
    timeout --kill-after=20 "$timeout_s" qemu-system-x86_64 "${accel_args[@]}" -smp 2 -m 2048 \
        -nic none -display none -vga std -no-reboot -monitor none \
        -kernel "$work/vmlinuz" -initrd "$work/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0,115200 panic=-1 systemd.show_status=0" \
        -drive "$2,if=virtio" \
        -serial "file:$work/console.log" -serial "file:$work/results.log" 2>"$work/qemu.log" &
    local qemu_pid=$!
    # The results as they arrive, printed while the VM runs.
    tail -n +1 -F --pid="$qemu_pid" "$work/results.log" 2>/dev/null &
    local tail_pid=$!
    local kvm_fault='KVM internal error|emulation failure|failed to initialize kvm|Could not access KVM'
    while kill -0 "$qemu_pid" 2>/dev/null; do
        if [ "$1" = kvm ] && grep -Eq "$kvm_fault" "$work/qemu.log"; then
            kvm_failed=1
            kill "$qemu_pid" 2>/dev/null || true
            break
        fi
        sleep 2
    done
    wait "$qemu_pid" || qemu_status=$?
    wait "$tail_pid" 2>/dev/null || true
    [ "$1" = kvm ] && grep -Eq "$kvm_fault" "$work/qemu.log" && kvm_failed=1
    if [ -s "$work/qemu.log" ]; then
        echo "qemu said:" && sed 's/^/   /' "$work/qemu.log" | head -n 20
    fi
    if [ -z "$kvm_failed" ] && { [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; }; then
        say "The VM did not power off within $timeout_s s: qemu was stopped"
    fi
}

t=$SECONDS
if [ "$accel" = tcg ]; then
    boot tcg "file=$work/image.ext4,format=raw"
else
    # A KVM run writes to an overlay first, so that a boot that KVM cannot
    # run leaves the image as it was for the run under TCG.
    qemu-img create -q -f qcow2 -b "$work/image.ext4" -F raw "$work/kvm.qcow2"
    boot kvm "file=$work/kvm.qcow2,format=qcow2"
    if [ -n "$kvm_failed" ]; then
        if [ "$accel" = kvm ]; then
            echo "$0: this machine's KVM cannot run Debian's kernel (see qemu's message above)" >&2
            exit 1
        fi
        say "This machine's KVM cannot run Debian's kernel (a nested KVM, see qemu's message above):" \
            "booting again under software emulation (TCG), which takes several minutes more"
        rm -f "$work/kvm.qcow2"
        accel=tcg
        t=$SECONDS
        boot tcg "file=$work/image.ext4,format=raw"
    else
        accel=kvm
        qemu-img commit -q "$work/kvm.qcow2"
    fi
fi
vm_took=$((SECONDS - t))

# --- 4. Artifacts ---------------------------------------------------------
rm -rf "$artifacts"
mkdir -p "$artifacts"
cp "$work/console.log" "$work/results.log" "$artifacts/" 2>/dev/null || true
debugfs -R "rdump /var/lib/tarnwick-vm $artifacts" "$work/image.ext4" >/dev/null 2>&1 || true
rm -f "$artifacts"/tarnwick-vm/alice/password
cp "$deb" "$artifacts/"
[ -n "${SUDO_UID:-}" ] && chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$artifacts"

passes=$(grep -c '^PASS' "$work/results.log" || true)
fails=$(grep -c '^FAIL' "$work/results.log" || true)
finished=no
grep -q '^END of the desktop VM cases' "$work/results.log" && finished=yes
echo
say "Summary (accelerator $accel; VM ran $vm_took s; whole run $((SECONDS - started_all)) s)"
grep -E '^(PASS|FAIL)' "$work/results.log" | sed 's/:.*//' || true
echo "Artifacts (screenshots and session logs in tarnwick-vm/, the VM's journal and console, the package): $artifacts"
if [ "$finished" != yes ]; then
    echo "FAIL the in-VM run did not finish (see $artifacts/console.log)"
    fails=$((fails + 1))
fi
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ] && [ "$passes" -gt 0 ]
