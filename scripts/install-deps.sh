#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, from Debian's
# packages and (the zip writers of the interoperability test) the npm
# registry, and makes the Debian minimal root of the bundle's test with
# debootstrap (scripts/debian-test-root.sh, kept in a cache outside the work
# tree). Idempotent and quiet: nothing is fetched when all is there.
# Usage: scripts/install-deps.sh [linux] [win32] [player]   (default: linux)
# (player: only what scripts/install-player.sh needs to build and register
# the installer)
set -euo pipefail
cd "$(dirname "$0")/.."

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(linux)

packages=()
# Programs the tests run, each with the Debian package that brings it;
# looked for as programs, since they may have come another way (npm with a
# nodejs of another source).
programs=()
for group in "${groups[@]}"; do
  case "$group" in
    linux)
      packages+=(g++ cmake ninja-build python3 pkg-config
                 libgtest-dev libgmock-dev googletest libbenchmark-dev
                 zlib1g-dev libcurl4-openssl-dev
                 # the tests' loopback HTTP server
                 libcpp-httplib-dev
                 clang libclang-rt-dev clang-format clang-tidy
                 libarchive-tools p7zip-full diffutils
                 # the player's install and its test: the link handler, a display
                 xdg-utils desktop-file-utils xvfb xauth
                 # the boxes of KDE desktops, answered from the keyboard; the
                 # notifications where no box can be shown, on a bus of the
                 # test's own
                 kdialog xdotool libnotify-bin libglib2.0-bin dbus-daemon
                 # the bundle's test: a Debian minimal root, an https server's
                 # certificates, a network namespace, a browser
                 debootstrap openssl iproute2 firefox-esr)
      # the zip writers of the interoperability test
      programs+=(node:nodejs npm:npm javac:default-jdk-headless jar:default-jdk-headless) ;;
    win32)
      packages+=(g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb xauth
                 # where the kernel runs no 32-bit code, the tests run as 64-bit
                 g++-mingw-w64-x86-64-posix wine64
                 # the Windows setup
                 nsis) ;;
    player)
      packages+=(g++ cmake ninja-build pkg-config zlib1g-dev libcurl4-openssl-dev
                 xdg-utils desktop-file-utils) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
for entry in ${programs[@]+"${programs[@]}"}; do
  command -v "${entry%%:*}" >/dev/null 2>&1 || missing+=("${entry#*:}")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  for p in "${missing[@]}"; do
    if [[ "$p" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
    fi
  done
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The npm writers, at the versions of the lock file, into build/npm; again
# only when the lock file changed since the last install.
if [ ${#programs[@]} -gt 0 ]; then
  from=tests/posix/interop
  to=build/npm
  if ! cmp -s "$from/package-lock.json" "$to/installed-lock.json"; then
    echo "install-deps: installing the npm zip writers into $to"
    rm -rf "$to"
    mkdir -p "$to"
    cp "$from/package.json" "$from/package-lock.json" "$to/"
    (cd "$to" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    cp "$from/package-lock.json" "$to/installed-lock.json"
  fi
fi

# The bundle's test root, made once per recipe: the tests themselves use no
# network.
for group in "${groups[@]}"; do
  if [ "$group" = linux ]; then
    SUDO=
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO scripts/debian-test-root.sh >/dev/null
  fi
done
