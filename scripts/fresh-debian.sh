#!/usr/bin/env bash
# Runs a command in a brand-new minimal Debian 12 system, in a clone of this
# repository's committed HEAD (uncommitted changes are not in it): the honest
# check that the scripts install everything they need on a fresh machine.
#
#   scripts/fresh-debian.sh 'scripts/demo.sh'
#   scripts/fresh-debian.sh 'scripts/test.sh native'
#
# The system is Debian's essential packages and apt, nothing else (no
# compiler, no CMake, no git), made once by mmdebstrap and kept as a tarball in
# $KESTRUNE_FRESH_CACHE (default /var/tmp/kestrune-fresh); every run unpacks it
# anew into a chroot, so nothing an earlier run installed is there. The
# command runs as root with a clean environment and at most
# $KESTRUNE_FRESH_MINUTES minutes (default 40).
#
# Needs root (for the chroot; through sudo when it asks no password) and the
# Debian archive that this machine's apt uses; where either is missing it says
# so in one line and fails.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/fresh-debian.sh 'COMMAND'" >&2; exit 2; }
cd "$(dirname "$0")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n --preserve-env=KESTRUNE_FRESH_CACHE,KESTRUNE_FRESH_MINUTES "$0" "$@"
  fi
  echo "fresh: not run: a fresh Debian system needs root (or sudo without a password)"
  exit 1
fi
if ! apt-get update -qq >/dev/null 2>&1; then
  echo "fresh: not run: this machine cannot reach the Debian archive (apt-get update failed)"
  exit 1
fi
# shellcheck source=deps.sh
source scripts/deps.sh
ensure_packages "${FRESH_PACKAGES[@]}"

cache=${KESTRUNE_FRESH_CACHE:-/var/tmp/kestrune-fresh}
base=$cache/bookworm.tar
mkdir -p "$cache"
if [ ! -s "$base" ]; then
  echo "fresh: making the base Debian 12 system (once; about a minute)..."
  # With a stable release named and no mirror given, mmdebstrap adds the
  # release's updates and security archives itself.
  mmdebstrap --quiet --variant=apt bookworm "$cache/partial.tar"
  mv "$cache/partial.tar" "$base"
fi

root=$(mktemp -d /var/tmp/kestrune-fresh-root.XXXXXX)
cleanup() {
  local mount
  for mount in tmp dev sys proc; do umount -l "$root/$mount" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -xf "$base" -C "$root"
git clone -q "$repo" "$root/src"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

echo "fresh: in a brand-new Debian 12 system: $1"
started=$(date +%s)
status=0
timeout --kill-after=30 "$((${KESTRUNE_FRESH_MINUTES:-40} * 60))" \
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI=true \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c "cd /src && $1" </dev/null || status=$?
echo "fresh: exit $status after $(($(date +%s) - started)) s"
exit "$status"
