#!/usr/bin/env bash
# The README's test command on a fresh Debian 12, as a newcomer meets it: a minimal debootstrap
# system (made once in DIR), a clone of this repository's REV inside it, then set-up and tests.
# A machine that has run the project for a while has packages a fresh one lacks; only this shows
# that tools/setup.sh installs everything the tests need.
#   tools/chroot-test.sh [DIR] [REV]      (root; DIR defaults to /srv/deb12, REV to HEAD)
# Run `stress --cpu 4` beside it to see the tests hold under load.
set -euo pipefail
root=${1:-/srv/deb12}
rev=${2:-HEAD}
repo=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -x "$root/usr/bin/apt-get" ]; then
  command -v debootstrap >/dev/null || apt-get install -y debootstrap
  debootstrap --variant=minbase bookworm "$root"
fi
for m in proc sys dev dev/pts; do mountpoint -q "$root/$m" || mount --bind "/$m" "$root/$m"; done
mountpoint -q "$root/tmp" || mount -t tmpfs tmpfs "$root/tmp"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Every installed Debian names localhost in /etc/hosts (the installer writes it); debootstrap does
# not, and the browser tests' driver is reached as localhost.
[ -e "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
rm -rf "$root/root/zolvex"
git clone -q "$repo" "$root/root/zolvex"
git -C "$root/root/zolvex" checkout -q "$(git -C "$repo" rev-parse "$rev")"
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin CI=true LANG=C.UTF-8 \
  bash -c 'cd /root/zolvex && time bash -c "bash tools/setup.sh && bash tools/test.sh"'
