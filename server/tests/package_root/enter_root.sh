#!/usr/bin/env bash
# Run by package_root_test.sh inside a mount and network namespace of its own: an overlay of this
# machine's / whose writes land in a tmpfs, chrooted into, with fresh /proc, /run and /tmp and only
# loopback. dpkg, apt and the service run there for real; nothing reaches the machine's own files, and
# everything started inside is ended on the way out.
#   enter_root.sh DEB_FOLDER DOC
set -euo pipefail
debs=$1
doc=$2
here=$(cd "$(dirname "$0")" && pwd)
top=$(mktemp -d /dev/shm/orvane-root.XXXXXX)
mount -t tmpfs tmpfs "$top"
mkdir "$top/upper" "$top/work" "$top/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" "$top/root"
new=$top/root
end_inside() {
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$new" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
    done
    umount -l "$top" 2>/dev/null
    rmdir "$top" 2>/dev/null
    true
}
trap end_inside EXIT
mount --rbind /dev "$new/dev"
mount -t proc proc "$new/proc"
mount -t tmpfs tmpfs "$new/run"
mount -t tmpfs -o mode=1777 tmpfs "$new/tmp"
# The checkout with these scripts and the guide, wherever it lies (under /tmp too, which the fresh tmpfs hides).
repo=$(cd "$here/../../.." && pwd)
mkdir -p "$new$repo"
mount --bind "$repo" "$new$repo"
ip link set lo up
# As on a machine booted with systemd, so the package's scripts call systemctl: the stand-in one.
mkdir -p "$new/run/systemd/system"
install -m 755 "$here/fake_systemctl.py" "$new/usr/local/sbin/systemctl"
install -d -m 755 "$new/srv/orvane-debs"
install -m 644 "$debs"/*.deb "$new/srv/orvane-debs/"
getent passwd orvane-link >/dev/null && { echo "enter_root: this machine has an orvane-link user already" >&2; exit 1; }
chroot "$new" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 bash "$here/in_root.sh" /srv/orvane-debs "$doc"
