#!/usr/bin/env bash
# Before a release: the README's set-up commands on a bare Debian 12.
#
# Makes a minimal bookworm tree with debootstrap (from the Debian archive this
# machine's apt sources use), puts a clone of this repository's HEAD into it and
# runs in it, as root and in order: the package (scripts/package.sh), its
# install (apt-get install ./build-deb/quillseal_*.deb), `man quillseal`, the
# demo (scripts/demo.sh) and the tests (scripts/test.sh). Each step's time is
# printed; the first step that fails ends the run with its status. The tree is
# removed afterwards unless KEEP_TREE=1. Needs root and about 4 GB in /var/tmp.
# Slow (the whole suite runs in the tree): too slow for every change, run it
# before a release.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "fresh-check.sh makes a Debian tree with debootstrap and must run as root" >&2
    exit 1
fi
mirror=$(bash scripts/debian-mirror.sh bookworm | cut -f1)
if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

tree=$(mktemp -d /var/tmp/quillseal-fresh.XXXXXX)
unmount() {
    for m in dev/pts dev sys proc; do
        mountpoint -q "$tree/$m" && umount -l "$tree/$m"
    done
    return 0
}
cleanup() {
    unmount
    if [ "${KEEP_TREE:-0}" = 1 ]; then echo "The tree stays in $tree"; else rm -rf --one-file-system "$tree"; fi
}
trap cleanup EXIT

# step NAME COMMAND...: runs the command, then prints how long it took.
step() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    if ! "$@"; then
        echo "== $name FAILED after $((SECONDS - start)) s" >&2
        exit 1
    fi
    echo "== $name: $((SECONDS - start)) s"
}

# A command in the tree, in the clone, with a clean environment.
in_tree() {
    chroot "$tree" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "cd /root/quillseal && $1"
}

step "debootstrap --variant=minbase bookworm" debootstrap --variant=minbase bookworm "$tree" "$mirror"
cp /etc/resolv.conf "$tree/etc/resolv.conf"
mount -t proc proc "$tree/proc"
mount -t sysfs sys "$tree/sys"
mount --bind /dev "$tree/dev"
mount --bind /dev/pts "$tree/dev/pts"
git clone -q "$repo" "$tree/root/quillseal"

step "bash scripts/package.sh" in_tree "bash scripts/package.sh"
step "apt-get install ./build-deb/quillseal_*.deb" \
    in_tree "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./build-deb/quillseal_*.deb"
step "man quillseal" in_tree "man -P cat quillseal | grep -q 'quillseal' && quillseal -e check >/dev/null"
step "bash scripts/demo.sh" in_tree "bash scripts/demo.sh"
step "bash scripts/test.sh" in_tree "bash scripts/test.sh"
echo "The README's commands all passed on a fresh Debian 12 tree."
