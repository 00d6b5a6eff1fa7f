#!/usr/bin/env bash
# Makes the portable Linux bundle for players on any distribution, the Steam
# Deck included:
#   scripts/build-linux-bundle.sh [OUT-DIR]      (default: dist/linux)
# gives OUT-DIR/quorvane-installer-VERSION-linux-ARCH.tar.gz, one folder
# holding the release build of the installer, its zip library, every shared
# library they need but the C library's own (found through the program's
# run path, $ORIGIN/../lib/quorvane), the desktop entry, the game finder,
# install.sh and a README that names the oldest glibc it runs on (the build
# machine's symbol versions decide it).
# QUORVANE_BUILD_DIR names the release build folder (default build/player,
# the one scripts/install-player.sh builds too).
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

out=${1:-dist/linux}
build=${QUORVANE_BUILD_DIR:-build/player}
limit=$((25 * 1024 * 1024))

say() { echo "build-linux-bundle: $*"; }
fail() { echo "build-linux-bundle: $*" >&2; exit 1; }

scripts/install-deps.sh player
cmake --preset release -B "$build" -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quorvane-installer unzip32 quorvane-find-game

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
arch=$(uname -m)
name=quorvane-installer-$version-linux-$arch
stage=$build/bundle
root=$stage/$name
rm -rf "$stage"
mkdir -p "$root"

for component in program desktop finder; do
  cmake --install "$build" --prefix "$root" --component "$component" --strip >/dev/null
done
install -m 0755 tools/linux/install.sh "$root/install.sh"

# The C library's own, which every system has in the version it was built
# with: never carried along (a copy would not match the system's loader).
glibc_own() {
  case "$1" in
    ld-linux*.so.* | libc.so.* | libm.so.* | libmvec.so.* | libpthread.so.* | libdl.so.* | \
    librt.so.* | libresolv.so.* | libutil.so.* | libanl.so.* | libnsl.so.* | libnss_*.so.* | \
    libthread_db.so.* | libBrokenLocale.so.* | linux-vdso.so.* | linux-gate.so.*) return 0 ;;
  esac
  return 1
}

libdir=$root/lib/quorvane
programs=("$root/bin/quorvane-installer" "$root/bin/quorvane-find-game" "$libdir/libunzip32.so")
# ldd walks the whole closure; each library is copied under the name the
# loader asks for (its soname), the file behind the system's link.
while read -r soname path; do
  glibc_own "$soname" && continue
  [ -f "$path" ] || fail "$soname: not found on this machine ($path)"
  [ -e "$libdir/$soname" ] || install -m 0644 "$(readlink -f "$path")" "$libdir/$soname"
done < <(for program in "${programs[@]}"; do
           LD_LIBRARY_PATH= ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }'
         done | sort -u)

# Every library any file of the bundle names must be in the bundle or the C
# library's: checked on the files themselves, not on what ldd found on this
# machine.
needed_elsewhere=
for file in "$root"/bin/* "$libdir"/*; do
  while read -r needed; do
    glibc_own "$needed" || [ -e "$libdir/$needed" ] || needed_elsewhere+=" ${file##*/}->$needed"
  done < <(objdump -p "$file" | awk '$1 == "NEEDED" { print $2 }')
done
[ -z "$needed_elsewhere" ] || fail "libraries needed but not bundled:$needed_elsewhere"

# The oldest glibc the bundle runs on: the newest glibc symbol version that
# any of its files asks for.
glibc=$(for file in "$root"/bin/* "$libdir"/*; do
          objdump -p "$file" | awk '/^Version References:/ { refs = 1 } refs && /GLIBC_[0-9]/ { print $NF }'
        done | sed -n 's/^GLIBC_//p' | sort -u -V | tail -n 1)
[ -n "$glibc" ] || fail "no glibc version found in the bundle's files"
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@GLIBC@/$glibc/" \
  tools/linux/bundle-README.txt >"$root/README"

mkdir -p "$out"
tarball=$out/$name.tar.gz
# The same bytes for the same files: fixed owners, order and times.
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 0)" \
  -cf - "$name" | gzip -9n >"$tarball.new"
mv "$tarball.new" "$tarball"
size=$(stat -c %s "$tarball")
[ "$size" -lt "$limit" ] || fail "$tarball is $size bytes, over the limit of $limit"

say "$tarball: $size bytes, glibc $glibc or newer, $(find "$libdir" -type f | wc -l) libraries"
(cd "$stage" && find "$name" -type f -printf '%10s  %p\n' | sort -k2)
