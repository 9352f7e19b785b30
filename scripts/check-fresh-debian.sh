#!/usr/bin/env bash
# Runs the README's test command as a newcomer would: on a minimal Debian 12
# root (debootstrap --variant=minbase bookworm: the base system and nothing
# else) with nothing but a copy of this tree, as root, with empty caches. Proves
# that scripts/install-deps.sh installs all the test command uses, and prints
# the time each step took there.
#
#   scripts/check-fresh-debian.sh [--tarball] [ROOT]
#
#   --tarball  copy the tree without .git (as a release tarball has it), not a clone
#   ROOT       where the minimal system goes (default /var/tmp/valdrin-fresh);
#              it is made anew each time and removed at the end (KEEP_ROOT=1 keeps it)
#
# Needs root (debootstrap, chroot, mounts) and Debian's archive.
set -euo pipefail
cd "$(dirname "$0")/.."

tarball=
if [[ ${1:-} == --tarball ]]; then
    tarball=1
    shift
fi
root=${1:-/var/tmp/valdrin-fresh}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

if [[ $(id -u) -ne 0 ]]; then
    echo "check-fresh-debian.sh: needs root (debootstrap, chroot and mounts)" >&2
    exit 2
fi
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

mounts=()
cleanup() {
    local index
    for ((index = ${#mounts[@]} - 1; index >= 0; index--)); do
        umount -l "${mounts[$index]}" 2>/dev/null || true
    done
    if [[ -z ${KEEP_ROOT:-} ]]; then
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT

rm -rf --one-file-system "$root"
started=$SECONDS
echo "== debootstrap --variant=minbase bookworm $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 20 "$root.debootstrap.log" >&2; exit 1; }
rm -f "$root.debootstrap.log"
echo "   ($((SECONDS - started)) s, not counted below)"

# What a container or a cloud image has besides the base system (a container
# runtime writes these two files): name resolution and the name localhost, and
# the kernel's file systems.
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' > "$root/etc/hosts"
for point in proc sys dev dev/pts dev/shm; do
    mkdir -p "$root/$point"
done
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount -t sysfs sysfs "$root/sys" && mounts+=("$root/sys")
mount --bind /dev "$root/dev" && mounts+=("$root/dev")
mount -t devpts devpts "$root/dev/pts" && mounts+=("$root/dev/pts")
mount -t tmpfs tmpfs "$root/dev/shm" && mounts+=("$root/dev/shm")

# The tree as committed: a clone, or its files alone.
tree=$root/root/valdrin-aim-server
if [[ -n $tarball ]]; then
    mkdir -p "$tree"
    git archive --format=tar HEAD | tar -x -C "$tree"
    echo "== The tree as a tarball (no .git) in $tree"
else
    git clone --quiet --no-hardlinks "$PWD" "$tree"
    echo "== A clone of $(git rev-parse --short HEAD) in $tree"
fi

# As CI runs it: no display, the machine's plain environment.
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 CI=true /bin/bash -c 'cd /root/valdrin-aim-server && bash scripts/test.sh'
echo "== The test command passed on a fresh minimal Debian 12"
