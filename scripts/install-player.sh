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

usage() {
  sed -n '2,13s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

mode=install
pinned=
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) mode=uninstall ;;
    --prefix) [ $# -ge 2 ] || usage; pinned=$2; shift ;;
    --prefix=*) pinned=${1#--prefix=} ;;
    *) usage ;;
  esac
  shift
done

home=${HOME:?install-player: HOME is not set}
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$2" ;; esac; }
data_home=$(absolute "${XDG_DATA_HOME:-}" "$home/.local/share")
config_home=$(absolute "${XDG_CONFIG_HOME:-}" "$home/.config")
local_root=$home/.local
program=$local_root/bin/quorvane-installer
libdir=$local_root/lib/quorvane
apps=$data_home/applications
entry=quorvane-installer.desktop
scheme=x-scheme-handler/pavix
# What this script created and the uninstall removes again when it is empty.
manifest=$libdir/created

say() { echo "install-player: $*"; }

# One argument of a desktop entry's Exec line: in double quotes when it holds
# a reserved character, with ", `, $ and \ escaped inside them; then, as in
# every value of the file, each \ written twice and each % as %%.
exec_arg() {
  local arg=$1
  case "$arg" in
    *[[:space:]\"\'\\\>\<~\|\&\;\$\*\?\#\(\)\`]*)
      arg=${arg//\\/\\\\}
      arg=${arg//\"/\\\"}
      arg=${arg//\`/\\\`}
      arg=${arg//\$/\\\$}
      arg="\"$arg\""
      ;;
  esac
  arg=${arg//\\/\\\\}
  printf '%s' "${arg//%/%%}"
}

# Drops quorvane-installer.desktop from the "pavix:" lines of a mimeapps.list.
drop_association() {
  local file=$1
  [ -f "$file" ] || return 0
  awk -v prefix="$scheme=" -v entry="$entry" '
    index($0, prefix) == 1 {
      n = split(substr($0, length(prefix) + 1), ids, ";")
      kept = ""
      for (i = 1; i <= n; i++) if (ids[i] != "" && ids[i] != entry) kept = kept ids[i] ";"
      if (kept == "") next
      $0 = prefix kept
    }
    { print }' "$file" >"$file.new"
  mv "$file.new" "$file"
}

# Whether a file this script created holds nothing of anyone's any more:
# only group headers and blank lines.
holds_nothing() {
  ! grep -qv -e '^\[.*\]$' -e '^[[:space:]]*$' "$1"
}

uninstall() {
  rm -f "$program" "$apps/$entry" "$libdir/libunzip32.so"
  drop_association "$config_home/mimeapps.list"
  drop_association "$apps/mimeapps.list"
  if [ -d "$apps" ] && command -v update-desktop-database >/dev/null; then
    update-desktop-database "$apps"
  fi
  local created=
  if [ -f "$manifest" ]; then
    created=$(tac "$manifest")
    rm -f "$manifest"
  fi
  rmdir "$libdir" 2>/dev/null || true
  # Newest first, so folders come after what they hold.
  while IFS= read -r path; do
    if [ -f "$path" ] && holds_nothing "$path"; then
      rm -f "$path"
    elif [ -d "$path" ]; then
      rmdir "$path" 2>/dev/null || true
    fi
  done <<<"$created"
  say "removed $program and the pavix: association"
}

if [ "$mode" = uninstall ]; then
  uninstall
  exit 0
fi

if [ -n "$pinned" ]; then
  case "$pinned" in /*) ;; *) pinned=$PWD/$pinned ;; esac
  pinned=${pinned%/}
  [ -d "$pinned" ] || { say "no folder $pinned" >&2; exit 2; }
  case "$pinned" in *$'\n'*) say "a prefix path cannot hold a line break" >&2; exit 2 ;; esac
fi

scripts/install-deps.sh player
build=${QUORVANE_BUILD_DIR:-build/player}
cmake --preset release -B "$build" -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quorvane-installer unzip32 quorvane-find-game

# Remember what did not exist before, so that the uninstall leaves the home
# as it found it.
created=()
for path in "$local_root" "$local_root/bin" "$local_root/lib" "$libdir" "$data_home" "$apps" \
            "$apps/mimeinfo.cache" "$config_home" "$config_home/mimeapps.list"; do
  [ -e "$path" ] || created+=("$path")
done
[ -f "$manifest" ] && old=$(cat "$manifest") || old=

cmake --install "$build" --prefix "$local_root" --component program --strip >/dev/null
mkdir -p "$apps"
exec_line="$(exec_arg "$program") %u"
if [ -n "$pinned" ]; then
  # The installer's command line is the address and nothing else: the
  # prefix reaches it through the environment.
  exec_line="env $(exec_arg "WINEPREFIX=$pinned") $exec_line"
fi
while IFS= read -r line; do
  case "$line" in
    Exec=*) printf 'Exec=%s\n' "$exec_line" ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"tools/linux/$entry" >"$apps/$entry.new"
mv "$apps/$entry.new" "$apps/$entry"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$apps/$entry"; fi
update-desktop-database "$apps"
xdg-mime default "$entry" "$scheme"
{
  [ -n "$old" ] && echo "$old"
  for path in "${created[@]}"; do echo "$path"; done
} >"$manifest"

default=$(xdg-mime query default "$scheme" || true)
say "installed $program"
if [ "$default" = "$entry" ]; then
  say "pavix: links now open with it ($apps/$entry)"
else
  say "warning: the desktop answers '$default' for pavix: links, not $entry" >&2
fi

if [ -n "$pinned" ]; then
  found=$(WINEPREFIX=$pinned "$build/bin/quorvane-find-game" || true)
else
  found=$(env -u WINEPREFIX "$build/bin/quorvane-find-game" || true)
fi
if [ -n "$found" ]; then
  IFS=$'\t' read -r kind prefix game downloads edition <<<"$found"
  [ -n "$pinned" ] && kind="pinned"
  say "the game: $edition, in $game"
  say "its Wine prefix ($kind): $prefix"
  say "stairs go to: $downloads"
else
  if [ -n "$pinned" ]; then
    say "the pinned prefix $pinned does not hold The Sims 2 (yet)"
  else
    say "no Wine prefix with The Sims 2 found (looked at ~/.wine, Lutris, Bottles, Steam," \
        "Heroic and PortProton)"
  fi
  say "to pin the game's prefix: scripts/install-player.sh --prefix /path/to/prefix"
fi
