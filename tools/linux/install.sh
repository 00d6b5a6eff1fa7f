#!/usr/bin/env bash
# Installs the Quorvane Modular Stair Installer from this unpacked bundle for
# the current user and makes it the handler of "pavix:" links, so that a
# click on such a link in a browser installs the stairs into the game:
#   ./install.sh                 installs it under ~/.local, registers it and
#                                tells where it found the game
#   ./install.sh --prefix PATH   the same, with the game's Wine prefix pinned
#                                to PATH
#   ./install.sh --uninstall     removes what it installed and the
#                                association again
# Needs no root, no compiler and no network. Honours HOME, XDG_DATA_HOME and
# XDG_CONFIG_HOME.
set -euo pipefail
# scripts/install-player.sh sources this file and runs the same steps on a
# tree it stages from its own build: `me` names the script in its messages
# and `pin_hint` is the command that pins a prefix.
me=install.sh
pin_hint="./install.sh --prefix /path/to/prefix"

say() { echo "$me: $*"; }

usage() {
  sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

parse_arguments() {
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
}

# A relative XDG variable is invalid, and ignored, as the XDG rules say.
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$2" ;; esac; }

set_paths() {
  home=${HOME:?$me: HOME is not set}
  data_home=$(absolute "${XDG_DATA_HOME:-}" "$home/.local/share")
  config_home=$(absolute "${XDG_CONFIG_HOME:-}" "$home/.config")
  local_root=$home/.local
  program=$local_root/bin/quorvane-installer
  libdir=$local_root/lib/quorvane
  apps=$data_home/applications
  entry=quorvane-installer.desktop
  scheme=x-scheme-handler/pavix
  # What did not exist before the install (folders, association files): the
  # uninstall removes it again once it is empty.
  manifest=$libdir/created
  # Every file the install copied, for the uninstall.
  installed=$libdir/installed
}

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

# Drops quorvane-installer.desktop from the "pavix:" lines of a mimeapps.list,
# in every group; a line left with no application goes.
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

# Makes quorvane-installer.desktop the default "pavix:" application and the
# first one associated, in a mimeapps.list of the XDG rules, where there is
# no xdg-mime to do it. Every other line stays as it was.
write_association() {
  local file=$1
  mkdir -p "$(dirname "$file")"
  [ -f "$file" ] || : >"$file"
  awk -v prefix="$scheme=" -v entry="$entry" '
    function flush() {
      if (group == "[Default Applications]" && !done_default) {
        print prefix entry ";"
        done_default = 1
      } else if (group == "[Added Associations]" && !done_added) {
        print prefix entry ";"
        done_added = 1
      }
    }
    /^\[.*\]$/ {
      # Blank lines at the end of a group stay after the line added to it.
      flush()
      for (i = 1; i <= blanks; i++) print ""
      blanks = 0
      group = $0
      print
      next
    }
    /^[[:space:]]*$/ { blanks++; next }
    {
      for (i = 1; i <= blanks; i++) print ""
      blanks = 0
    }
    index($0, prefix) == 1 && group == "[Default Applications]" {
      if (!done_default) print prefix entry ";"
      done_default = 1
      next
    }
    index($0, prefix) == 1 && group == "[Added Associations]" {
      if (done_added) next
      n = split(substr($0, length(prefix) + 1), ids, ";")
      kept = entry ";"
      for (i = 1; i <= n; i++) if (ids[i] != "" && ids[i] != entry) kept = kept ids[i] ";"
      print prefix kept
      done_added = 1
      next
    }
    { print }
    END {
      flush()
      for (i = 1; i <= blanks; i++) print ""
      if (!done_default) {
        print "[Default Applications]"
        print prefix entry ";"
      }
      if (!done_added) {
        print "[Added Associations]"
        print prefix entry ";"
      }
    }' "$file" >"$file.new"
  mv "$file.new" "$file"
}

# Whether a file this script created holds nothing of anyone's any more:
# only group headers and blank lines.
holds_nothing() {
  ! grep -qv -e '^\[.*\]$' -e '^[[:space:]]*$' "$1"
}

uninstall() {
  local files=
  if [ -f "$installed" ]; then
    files=$(cat "$installed")
    rm -f "$installed"
  fi
  while IFS= read -r path; do
    [ -n "$path" ] && rm -f "$path"
  done <<<"$files"
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

check_pinned() {
  [ -n "$pinned" ] || return 0
  case "$pinned" in /*) ;; *) pinned=$PWD/$pinned ;; esac
  pinned=${pinned%/}
  [ -d "$pinned" ] || { say "no folder $pinned" >&2; exit 2; }
  case "$pinned" in *$'\n'*) say "a prefix path cannot hold a line break" >&2; exit 2 ;; esac
}

# The program in the tree $1 must run here before anything is installed:
# with no address it ends at once with status 3. Anything else is the loader
# refusing it, most likely over a C library older than the one it was built
# against.
check_runs() {
  local status=0 check
  check=$("$1/bin/quorvane-installer" </dev/null 2>&1) || status=$?
  if [ "$status" -ne 3 ]; then
    say "the installer cannot run on this system:" >&2
    [ -z "$check" ] || sed 's/^/  /' <<<"$check" >&2
    say "it needs the C library (glibc) named in README, or newer" >&2
    exit 1
  fi
}

# Installs the program, its libraries and its desktop entry from the tree $1
# (laid out as the bundle is) and makes it the "pavix:" handler.
install_tree() {
  local tree=$1
  # Remember what did not exist before, so that the uninstall leaves the home
  # as it found it.
  local created=() path old old_files
  for path in "$local_root" "$local_root/bin" "$local_root/lib" "$libdir" "$data_home" "$apps" \
              "$apps/mimeinfo.cache" "$apps/mimeapps.list" "$config_home" \
              "$config_home/mimeapps.list"; do
    [ -e "$path" ] || created+=("$path")
  done
  [ -f "$manifest" ] && old=$(cat "$manifest") || old=
  [ -f "$installed" ] && old_files=$(cat "$installed") || old_files=

  mkdir -p "$local_root/bin" "$libdir" "$apps"
  files=()
  local library
  for library in "$tree"/lib/quorvane/*; do
    copy "$library" "$libdir/${library##*/}" 0644
  done
  copy "$tree/bin/quorvane-installer" "$program" 0755
  write_entry "$tree/share/applications/$entry"
  register
  {
    [ -n "$old" ] && echo "$old"
    for path in "${created[@]}"; do echo "$path"; done
  } >"$manifest"
  {
    [ -n "$old_files" ] && echo "$old_files"
    for path in "${files[@]}"; do echo "$path"; done
  } | sort -u >"$installed"
  say "installed $program"
  say_registered
}

# The program and its libraries; each copy is put in place by a rename, so
# a link clicked meanwhile runs either the old program or the new one.
copy() {
  cp "$1" "$2.new"
  chmod "$3" "$2.new"
  mv -f "$2.new" "$2"
  files+=("$2")
}

# The desktop entry $1, its Exec line the installed program.
write_entry() {
  local exec_line line
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
  done <"$1" >"$apps/$entry.new"
  mv "$apps/$entry.new" "$apps/$entry"
  files+=("$apps/$entry")
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$apps/$entry"; fi
}

register() {
  if command -v update-desktop-database >/dev/null; then update-desktop-database "$apps"; fi
  if command -v xdg-mime >/dev/null; then
    xdg-mime default "$entry" "$scheme"
  else
    write_association "$config_home/mimeapps.list"
  fi
}

say_registered() {
  if command -v xdg-mime >/dev/null; then
    local default
    default=$(xdg-mime query default "$scheme" || true)
    if [ "$default" = "$entry" ]; then
      say "pavix: links now open with it ($apps/$entry)"
    else
      say "warning: the desktop answers '$default' for pavix: links, not $entry" >&2
    fi
  else
    say "pavix: links now open with it ($apps/$entry, registered in $config_home/mimeapps.list)"
  fi
}

# The game finder of the tree $1, as the installer will run: with the pinned
# prefix, or discovering one.
run_finder() {
  if [ -n "$pinned" ]; then
    env "WINEPREFIX=$pinned" "$1/bin/quorvane-find-game"
  else
    env -u WINEPREFIX "$1/bin/quorvane-find-game"
  fi
}

say_no_game() {
  if [ -n "$pinned" ]; then
    say "the pinned prefix $pinned does not hold The Sims 2 (yet)"
  else
    say "no Wine prefix with The Sims 2 found (looked at ~/.wine, Lutris, Bottles, Steam," \
        "Heroic and PortProton)"
  fi
  say "to pin the game's prefix: $pin_hint"
}

# Where the installer will find the game, as the game finder tells it: its
# lines are shown as they are.
report_game() {
  local status=0 found line
  found=$(run_finder "$1" 2>&1) || status=$?
  if [ "$status" -eq 0 ] && [ -n "$found" ]; then
    say "where it found the game:"
    while IFS= read -r line; do say "  $line"; done <<<"$found"
  else
    [ -z "$found" ] || while IFS= read -r line; do say "  $line"; done <<<"$found"
    say_no_game
  fi
}

# Reads the command line; an uninstall is done here and ends the script.
start() {
  parse_arguments "$@"
  set_paths
  if [ "$mode" = uninstall ]; then
    uninstall
    exit 0
  fi
  check_pinned
}

main() {
  local here
  here=$(cd "$(dirname "$0")" && pwd)
  start "$@"
  check_runs "$here"
  install_tree "$here"
  report_game "$here"
}

# Run, unless sourced for its steps.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
