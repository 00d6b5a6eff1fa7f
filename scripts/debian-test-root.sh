#!/usr/bin/env bash
# The player's machine of the Linux bundle's test: a Debian minimal root
# (debootstrap's minbase: no libcurl, no OpenSSL, no xdg-utils, no CA
# certificates) with one unprivileged user, "player" (uid 1000). It is made
# once from Debian's mirror and kept as a tar file in a cache outside the
# work tree, named by the content hash of this script, its recipe: a changed
# recipe makes a new one, an unchanged one is never fetched again.
#   scripts/debian-test-root.sh           makes it where it is missing, then
#                                         prints its path (the network is
#                                         used here only, by debootstrap)
#   scripts/debian-test-root.sh --cached  prints its path; fails when it has
#                                         not been made (the tests' way)
# QUORVANE_TEST_ROOT_CACHE names the cache folder (default
# /var/cache/quorvane-tests). Making it needs root and debootstrap.
set -euo pipefail

suite=bookworm
mirror=http://deb.debian.org/debian
cache=${QUORVANE_TEST_ROOT_CACHE:-/var/cache/quorvane-tests}
key=$(sha256sum "$0" | cut -c1-16)
root_tar=$cache/debian-$suite-minbase-$key.tar

if [ -f "$root_tar" ]; then
  echo "$root_tar"
  exit 0
fi
if [ "${1:-}" = --cached ]; then
  echo "debian-test-root: $root_tar has not been made: run scripts/install-deps.sh linux" >&2
  exit 1
fi
[ "$(id -u)" -eq 0 ] || { echo "debian-test-root: debootstrap needs root" >&2; exit 1; }

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
# Another run may have made it while this one waited.
if [ -f "$root_tar" ]; then
  echo "$root_tar"
  exit 0
fi

echo "debian-test-root: making the Debian $suite minimal root (once per recipe)" >&2
staging=$(mktemp -d "$cache/staging.XXXXXX")
trap 'rm -rf "$staging"' EXIT
debootstrap --variant=minbase "$suite" "$staging/root" "$mirror" >"$staging/log" 2>&1 || {
  tail -n 20 "$staging/log" >&2
  exit 1
}
chroot "$staging/root" useradd --create-home --uid 1000 --user-group --shell /bin/bash player
# What only apt needs: the root is never updated, only copied.
chroot "$staging/root" apt-get clean
rm -rf "$staging/root/var/lib/apt/lists/"*
tar -C "$staging/root" --numeric-owner -cf "$root_tar.new" .
mv "$root_tar.new" "$root_tar"
# The roots of older recipes.
find "$cache" -maxdepth 1 -name "debian-*-minbase-*.tar" ! -path "$root_tar" -delete
echo "$root_tar"
