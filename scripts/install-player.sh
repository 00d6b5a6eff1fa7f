#!/usr/bin/env bash
# Installs the installer for the current user and makes it the handler of
# "pavix:" links, so that a click on such a link in a browser installs the
# stairs into the game:
#   scripts/install-player.sh                builds the release, installs it
#                                            under ~/.local, registers it and
#                                            tells where it found the game
#   scripts/install-player.sh --prefix PATH  the same, with the game's Wine
#                                            prefix pinned to PATH
#   scripts/install-player.sh --uninstall    removes the files and the
#                                            association again
# Honours HOME, XDG_DATA_HOME and XDG_CONFIG_HOME. QUORVANE_BUILD_DIR names
# the build folder (default build/player).
set -euo pipefail
cd "$(dirname "$0")/.."

# The steps are the bundle's install.sh's, run on a tree staged from this
# build the way the bundle is laid out; only the words and the report of
# the game differ.
source tools/linux/install.sh
me=install-player
pin_hint="scripts/install-player.sh --prefix /path/to/prefix"

# The game finder's line, read out field by field.
report_game() {
  local found kind prefix game downloads edition
  found=$(run_finder "$1" || true)
  if [ -n "$found" ]; then
    IFS=$'\t' read -r kind prefix game downloads edition <<<"$found"
    [ -n "$pinned" ] && kind="pinned"
    say "the game: $edition, in $game"
    say "its Wine prefix ($kind): $prefix"
    say "stairs go to: $downloads"
  else
    say_no_game
  fi
}

start "$@"

scripts/install-deps.sh player
build=${QUORVANE_BUILD_DIR:-build/player}
cmake --preset release -B "$build" -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quorvane-installer unzip32 quorvane-find-game
stage=$(cd "$build" && pwd)/staged
rm -rf "$stage"
for component in program desktop finder; do
  cmake --install "$build" --prefix "$stage" --component "$component" --strip >/dev/null
done

check_runs "$stage"
install_tree "$stage"
report_game "$stage"
