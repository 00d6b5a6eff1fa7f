#!/usr/bin/env bash
# The whole run: quorvane-installer against curl + bsdtar + cp on a 64 MiB
# archive served on loopback, then the installer's peak memory on 64 MiB and
# on 512 MiB archives. Release build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
dpkg-query -W -f='${Status}' curl 2>/dev/null | grep -q 'install ok installed' || apt-get install -y -qq curl >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release --target install_run_bench quorvane-installer unzip32 >/dev/null
bin=build/release/bin
work=build/release/bench-install
"$bin/install_run_bench" "$work" "$bin/quorvane-installer" 64 5
echo
echo "peak memory, 512 MiB archive:"
"$bin/install_run_bench" "$work" "$bin/quorvane-installer" 512 1 | grep -E 'peak|ratio'
rm -rf "$work"
