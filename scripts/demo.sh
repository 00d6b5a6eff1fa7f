#!/usr/bin/env bash
# Shows the installer doing its job on a sandboxed machine: installs what is
# missing, builds, makes a sample archive, serves it on loopback and runs
# quorvane-installer on a "pavix:" address. Boxes appear on the terminal (or
# as zenity dialogs on a desktop). Run it again to be asked about replacing
# the installed packages. Everything stays in build/dev/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh linux
cmake --preset dev >/dev/null
cmake --build --preset dev --target quorvane-installer unzip32 quorvane-demo >/dev/null
exec build/dev/bin/quorvane-demo build/dev/demo build/dev/bin/quorvane-installer
