#!/usr/bin/env bash
# A new player on Linux, in a sandboxed home: scripts/install-player.sh, then
# a "pavix:" link handed over by xdg-open on a virtual display, the way a
# browser hands it over. The installer, started without WINEPREFIX, has to
# find the game in a Bottles prefix (one ~/.wine without the game is passed
# over), install the stairs from a loopback server and report success.
# Then the same with a pinned prefix, the quoting of a pinned path with a
# space, the uninstall (which must leave the home as it was), and the Debian
# package.
#   linux_player_setup_test.sh SOURCE-DIR WORK-DIR BUILD-DIR
# (BUILD-DIR: the build folder install-player.sh uses; kept between runs)
set -uo pipefail

src=$1
work=$2
build=$3
rm -rf "$work"
mkdir -p "$work/tmp"

source "$src/tests/setup/common.sh"

# The sandbox: nothing of the real home or desktop reaches the scripts.
home=$work/home
export HOME=$home
export XDG_DATA_HOME=$home/xdg-data XDG_CONFIG_HOME=$home/xdg-config
export XDG_DATA_DIRS=$work/system-data XDG_CONFIG_DIRS=$work/system-config
export TMPDIR=$work/tmp/
unset WINEPREFIX XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID \
  BROWSER WAYLAND_DISPLAY
mkdir -p "$home" "$XDG_DATA_DIRS" "$XDG_CONFIG_DIRS"
# The installer shows its boxes as zenity or kdialog dialogs where one of
# them is installed. This test reads them from standard error, the front end
# of a run without either and without a terminal: where one is there, it
# gets a PATH of its own without them.
if command -v zenity >/dev/null || command -v kdialog >/dev/null; then
  path_without "$work/path" zenity kdialog
fi

bottle=$XDG_DATA_HOME/bottles/bottles/Sims2
make_prefix "$bottle"
mkdir -p "$home/.wine"
printf 'WINE REGISTRY Version 2\n\n#arch=win32\n\n[Software\\\\Wine] 1\n' >"$home/.wine/system.reg"
pinned=$home/pinned
make_prefix "$pinned"
spaced="$home/My Games/pfx"
mkdir -p "$spaced"
# Everything in the home but the prefixes, which the runs change.
listing() {
  (cd "$home" && find . -path ./xdg-data/bottles -prune -o -path ./pinned -prune -o \
    -path ./.wine -prune -o -path "./My Games" -prune -o -print | sort)
}
before=$(listing)

# Archives on a loopback server of the test's own.
server=$work/http
python3 "$src/tests/win32/loopback_http.py" start "$server" || { echo "no server" >&2; exit 1; }
trap 'python3 "$src/tests/win32/loopback_http.py" stop "$server"' EXIT
port=$(cat "$server/port")
make_archives "$server/root" oak railing

install_player() { QUORVANE_BUILD_DIR=$build "$src/scripts/install-player.sh" "$@" >"$work/out" 2>&1; }
# A link clicked: xdg-open on a display of its own, in a session of its own
# (no terminal, so the boxes come as lines on standard error).
open_link() {
  setsid xvfb-run -a xdg-open "pavix://127.0.0.1:$port/$1" </dev/null >"$work/open.out" 2>"$work/open.err"
}
box="[Quorvane Modular Stair Installer] Modular stairs successfully installed."
entry=$XDG_DATA_HOME/applications/quorvane-installer.desktop
program=$home/.local/bin/quorvane-installer

# 1. The plain install, and a link.
check "install-player.sh succeeds" install_player
cat "$work/out"
check "it tells where it found the game" holds "$work/out" "its Wine prefix (Bottles): $bottle"
check "the desktop entry is valid" desktop-file-validate "$entry"
check "its Exec names the program and %u" same "$(grep '^Exec=' "$entry")" "Exec=$program %u"
check "it is the default pavix: handler" \
  same "$(xdg-mime query default x-scheme-handler/pavix)" quorvane-installer.desktop
check "xdg-open starts the installer, which succeeds" open_link oak.zip
check "its box tells the success" holds "$work/open.err" "$box"
check "the package is in the discovered prefix" test -f "$(downloads "$bottle")/Oak.package"
check "the read-me is merged" holds "$(catalog "$bottle")" "modularStairs 42"

# 2. A pinned prefix reaches the installer through the environment.
check "install-player.sh --prefix succeeds" install_player --prefix "$pinned"
check "it names the pinned prefix" holds "$work/out" "its Wine prefix (pinned): $pinned"
check "its Exec sets WINEPREFIX" \
  same "$(grep '^Exec=' "$entry")" "Exec=env WINEPREFIX=$pinned $program %u"
check "xdg-open installs into the pinned prefix" open_link railing.zip
check "the box tells the success" holds "$work/open.err" "$box"
check "the package is in the pinned prefix" test -f "$(downloads "$pinned")/Railing.package"
check "and not in the discovered one" test ! -e "$(downloads "$bottle")/Railing.package"

# 3. A path with a space is quoted; %u stays outside the quotes.
check "install-player.sh --prefix with a space succeeds (entry validated)" \
  install_player --prefix "$spaced"
check "its Exec quotes the assignment" \
  same "$(grep '^Exec=' "$entry")" "Exec=env \"WINEPREFIX=$spaced\" $program %u"
check "it says the prefix lacks the game" holds "$work/out" "does not hold The Sims 2"

# 4. The uninstall leaves the home as it was.
check "install-player.sh --uninstall succeeds" install_player --uninstall
check "no file is left" same "$(listing)" "$before"
check "no pavix: handler is left" same "$(xdg-mime query default x-scheme-handler/pavix)" ""

# 5. The Debian package of the same build.
(cd "$build" && cpack -G DEB >"$work/cpack.out" 2>&1)
deb=$(ls "$build"/quorvane-installer_*.deb 2>/dev/null | head -n 1)
check "cpack makes a Debian package" test -f "$deb"
if [ -f "$deb" ]; then
  dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/deb.files"
  for file in ./usr/bin/quorvane-installer ./usr/lib/quorvane/libunzip32.so \
              ./usr/share/applications/quorvane-installer.desktop; do
    check "the package holds $file" holds "$work/deb.files" "$file"
  done
  dpkg-deb -x "$deb" "$work/deb"
  check "its desktop entry is valid" desktop-file-validate \
    "$work/deb/usr/share/applications/quorvane-installer.desktop"
  check "its Exec is the program on the PATH" same \
    "$(grep '^Exec=' "$work/deb/usr/share/applications/quorvane-installer.desktop")" \
    "Exec=quorvane-installer %u"
  check "the packaged program finds its library and installs" \
    env WINEPREFIX="$bottle" setsid "$work/deb/usr/bin/quorvane-installer" \
    "pavix://127.0.0.1:$port/railing.zip" </dev/null 2>"$work/deb.err"
  check "the box tells the success" holds "$work/deb.err" "$box"
fi

tally
