#!/usr/bin/env bash
# The portable Linux bundle, as players of other distributions meet it:
#  1. scripts/build-linux-bundle.sh, and what the bundle holds;
#  2. a Debian minimal root without libcurl, OpenSSL or xdg-utils
#     (scripts/debian-test-root.sh; a fresh copy of the cached one), entered
#     through chroot as the unprivileged user "player" with /proc mounted:
#     unpack, ./install.sh, a link run through the Exec line of the desktop
#     entry that mimeapps.list names installs stairs from a loopback server
#     into ~/.wine; --prefix; a mimeapps.list of the player's own keeps its
#     lines; ./install.sh --uninstall leaves no file and no association;
#  3. https: a link whose server redirects to a loopback https server, with
#     the certificate's CA where Debian, Fedora and openSUSE keep theirs; an
#     unrelated CA; none at all;
#  4. the whole way once as a player goes it: Firefox ESR on Xvfb, in a
#     network namespace of its own (loopback only), opens a page of the
#     loopback server; a mouse click on its "pavix:" link starts the handler
#     that the bundle registered, which installs the stairs and says so in a
#     kdialog box.
#   linux_bundle_test.sh SOURCE-DIR WORK-DIR BUILD-DIR
# (BUILD-DIR: the release build the bundle is made from; kept between runs.)
# Runs as root, for chroot, mounts and namespaces; the mounts live in a mount
# namespace of the test's own and end with it. No network but loopback: the
# root was made by scripts/install-deps.sh.
set -uo pipefail

src=$1
work=$2
build=$3

if [ "${QV_BUNDLE_TEST_PHASE:-}" = "" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "linux_bundle_test: needs root (chroot, mount, unshare)" >&2; exit 1; }
  exec env QV_BUNDLE_TEST_PHASE=main unshare --mount --propagation private -- "$0" "$@"
fi

source "$src/tests/setup/common.sh"
title="Quorvane Modular Stair Installer"
success="[$title] Modular stairs successfully installed."

servers=$work/servers
stop_servers() { python3 "$src/tests/win32/loopback_http.py" stop "$servers" 2>/dev/null; }

# ---- 4. the browser: run again in a network namespace of its own ---------
if [ "$QV_BUNDLE_TEST_PHASE" = browser ]; then
  ip link set lo up
  bundle_dir=$4
  area=$work/browser
  home=$area/home
  rm -rf "$area"
  mkdir -p "$home" "$area/profile" "$area/system-config"
  export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config
  export XDG_CONFIG_DIRS=$area/system-config TMPDIR=$area/tmp/
  unset WINEPREFIX XDG_CURRENT_DESKTOP DESKTOP_SESSION DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY \
    BROWSER
  mkdir -p "$TMPDIR"
  # The boxes of this desktop are kdialog's (KDE's, the Steam Deck's): where
  # zenity is installed too, the browser gets a PATH without it.
  if command -v zenity >/dev/null; then path_without "$area/path" zenity; fi
  make_prefix "$home/.wine"
  "$bundle_dir/install.sh" >"$area/install.out" 2>&1
  check "browser: install.sh succeeds" same "$?" 0
  servers=$area/servers
  python3 "$src/tests/win32/loopback_http.py" start "$servers" || { echo "no server" >&2; exit 1; }
  trap stop_servers EXIT
  port=$(cat "$servers/port")
  make_archives "$servers/root" walnut
  # The link fills the page, so that a click anywhere on it is a click on it.
  cat >"$servers/root/stairs.html" <<EOF
<!DOCTYPE html>
<html><head><title>Walnut stairs</title></head>
<body style="margin:0"><a href="pavix://127.0.0.1:$port/walnut.zip"
 style="display:block;width:100vw;height:100vh;font-size:48px">Install the walnut stairs</a></body></html>
EOF
  # Firefox hands "pavix:" to the system without asking; the rest keeps a
  # new profile from showing first-run pages.
  cat >"$area/profile/user.js" <<'EOF'
user_pref("network.protocol-handler.external.pavix", true);
user_pref("network.protocol-handler.warn-external.pavix", false);
user_pref("security.external_protocol_requires_permission", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
EOF
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$area/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$area/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n 1 "$area/display")
  firefox-esr --no-remote --new-instance --profile "$area/profile" \
    "http://127.0.0.1:$port/stairs.html" >"$area/firefox.out" 2>&1 &
  firefox=$!
  trap 'kill $firefox $xvfb 2>/dev/null; stop_servers' EXIT
  # xdotool --sync waits for the window without limit: the test's own
  # time-out bounds it.
  page=$(xdotool search --sync --onlyvisible --name "^Walnut stairs" | head -n 1)
  check "browser: Firefox shows the page" test -n "$page"
  xdotool mousemove --window "$page" 400 300 click 1
  # The installer's final box: the player reads it and presses Enter. What
  # kdialog shows is on its command line.
  box=$(xdotool search --sync --onlyvisible --name "^$title" | head -n 1)
  check "browser: the installer shows its box" test -n "$box"
  pgrep -a kdialog >"$area/box" || true
  check "browser: the box tells the success" \
    holds "$area/box" "--msgbox <qt>Modular stairs successfully installed.</qt>"
  xdotool windowfocus --sync "$box" key Return
  for _ in $(seq 100); do
    pgrep -f "$home/.local/bin/quorvane-installer" >/dev/null || break
    sleep 0.1
  done
  check "browser: the installer has ended" \
    test -z "$(pgrep -f "$home/.local/bin/quorvane-installer")"
  check "browser: the package is installed" test -f "$(downloads "$home/.wine")/Walnut.package"
  check "browser: the read-me is merged" holds "$(catalog "$home/.wine")" "modularStairs 42"
  echo "$passed $failed" >"$work/browser.counts"
  exit 0
fi

# ---- 1. the bundle -----------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
QUORVANE_BUILD_DIR=$build "$src/scripts/build-linux-bundle.sh" "$work/dist" >"$work/build.out" 2>&1
check "build-linux-bundle.sh succeeds" same "$?" 0
tail -n +1 "$work/build.out" | grep '^build-linux-bundle:' || sed 's/^/  | /' "$work/build.out" >&2
tarball=$(ls "$work"/dist/quorvane-installer-*-linux-x86_64.tar.gz 2>/dev/null | head -n 1)
check "it makes dist/linux/quorvane-installer-VERSION-linux-x86_64.tar.gz" test -f "$tarball"
[ -f "$tarball" ] || { echo "$passed passed, $failed failed"; exit 1; }
name=$(basename "$tarball" .tar.gz)
check "it is under 25 MB" test "$(stat -c %s "$tarball")" -lt $((25 * 1024 * 1024))
tar -tzf "$tarball" >"$work/contents"
check "it holds one top folder, $name" same "$(cut -d/ -f1 "$work/contents" | sort -u)" "$name"
for file in install.sh README bin/quorvane-installer bin/quorvane-find-game \
            lib/quorvane/libunzip32.so lib/quorvane/libcurl.so.4 lib/quorvane/libssl.so.3 \
            lib/quorvane/libstdc++.so.6 share/applications/quorvane-installer.desktop; do
  check "it holds $file" holds "$work/contents" "$name/$file"
done
for library in libc.so.6 libm.so.6 libpthread.so.0 libdl.so.2 librt.so.1 libresolv.so.2 \
               ld-linux-x86-64.so.2; do
  check "it leaves $library to the system" lacks "$work/contents" "/$library"
done
tar -C "$work/dist" -xzf "$tarball"
check "its README names the oldest glibc" grep -qE 'glibc 2\.[0-9]+ or newer' "$work/dist/$name/README"
check "the program finds its libraries through \$ORIGIN, theirs too (DT_RPATH)" \
  same "$(readelf -d "$work/dist/$name/bin/quorvane-installer" | sed -n 's/.*(RPATH).*\[\(.*\)\]/\1/p')" \
  '$ORIGIN/../lib/quorvane'

# ---- 2. a Debian minimal root --------------------------------------------------
root_tar=$("$src/scripts/debian-test-root.sh" --cached) || { echo "$passed passed, $((failed + 1)) failed"; exit 1; }
root=$work/root
mkdir -p "$root"
tar -C "$root" --numeric-owner -xpf "$root_tar"
# As on a real system: the loader expands $ORIGIN through /proc/self/exe.
mount -t proc proc "$root/proc"
player_home=/home/player
home=$root$player_home
for missing in 'libcurl.so*' 'libssl.so*' 'libcrypto.so*' xdg-mime xdg-open update-desktop-database; do
  check "the root has no $missing" test -z "$(find "$root/usr" "$root/etc" -name "$missing" -print -quit)"
done

# The player's programs: in the root, as uid 1000, in a session of their own
# (no terminal: boxes are lines on standard error), with the environment a
# desktop session gives (and no display).
as_player() {
  chroot --userspec=1000:1000 "$root" /usr/bin/env -i HOME=$player_home USER=player \
    LOGNAME=player SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
    ${PLAYER_ENV:-} /usr/bin/setsid --wait "$@" </dev/null
}
# Everything in the root but what the runs change by design: the game's
# prefixes, the unpacked bundle, the temporary folders and /proc.
listing() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./home/player/Downloads \
    -o -path ./home/player/.wine -o -path "./home/player/My Games" \) -prune -o -printf '%p %m %s\n' \
    | sort)
}

make_prefix "$home/.wine" 1000
mkdir -p "$home/Downloads"
cp "$tarball" "$home/Downloads/"
chown -R 1000:1000 "$home/Downloads"
before=$(listing)

python3 "$src/tests/win32/loopback_http.py" start "$servers" \
  || { echo "no server" >&2; echo "$passed passed, $((failed + 1)) failed"; exit 1; }
trap stop_servers EXIT
port=$(cat "$servers/port")
make_archives "$servers/root" oak railing

bundle=$player_home/Downloads/$name
check "the player unpacks the bundle" as_player tar -C $player_home/Downloads -xzf "$bundle.tar.gz"
as_player "$bundle/install.sh" >"$work/install.out" 2>&1
check "./install.sh succeeds" same "$?" 0
cat "$work/install.out"
check "it says where it found the game" holds "$work/install.out" "$player_home/.wine"
check "it registers the handler in mimeapps.list itself (no xdg-mime here)" \
  holds "$work/install.out" "registered in $player_home/.config/mimeapps.list"
check "mimeapps.list holds both groups" same "$(cat "$home/.config/mimeapps.list")" \
  "$(printf '%s\n' '[Default Applications]' 'x-scheme-handler/pavix=quorvane-installer.desktop;' \
     '[Added Associations]' 'x-scheme-handler/pavix=quorvane-installer.desktop;')"

# A link, run as a desktop runs it: the Exec line of the desktop entry that
# mimeapps.list names for "pavix:".
click() {  # click LINK [CONFIG-HOME DATA-HOME]
  local config=${2:-$home/.config} data=${3:-$home/.local/share}
  python3 "$src/tests/setup/desktop_launch.py" "$config/mimeapps.list" "$data/applications" "$1" \
    >"$work/command" || return 1
  local command=()
  mapfile -d '' command <"$work/command"
  as_player "${command[@]}" >"$work/run.out" 2>"$work/run.err"
}
check "a link through the desktop entry installs the stairs" click "pavix://127.0.0.1:$port/oak.zip"
check "its box tells the success" holds "$work/run.err" "$success"
check "the package is in ~/.wine" test -f "$(downloads "$home/.wine")/Oak.package"
check "the read-me is merged" holds "$(catalog "$home/.wine")" "modularStairs 42"

# --prefix pins another prefix, a path with a space in it.
spaced="$home/My Games/pfx"
make_prefix "$spaced" 1000
as_player "$bundle/install.sh" --prefix "$player_home/My Games/pfx" >"$work/install.out" 2>&1
check "./install.sh --prefix succeeds" same "$?" 0
check "it names the pinned prefix" holds "$work/install.out" "$player_home/My Games/pfx"
check "a link installs into the pinned prefix" click "pavix://127.0.0.1:$port/railing.zip"
check "the package is in the pinned prefix" test -f "$(downloads "$spaced")/Railing.package"
check "and not in ~/.wine" test ! -e "$(downloads "$home/.wine")/Railing.package"

# ---- 3. https: the server redirects to https, the CA where a distribution keeps it
ca=$work/ca
mkdir -p "$ca"
(
  cd "$ca"
  for who in trusted stranger; do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
      -subj "/CN=Quorvane test CA $who" -keyout "$who-ca.key" -out "$who-ca.pem"
  done
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=127.0.0.1 \
    -keyout server.key -out server.csr
  printf 'subjectAltName=IP:127.0.0.1\n' >server.ext
  openssl x509 -req -in server.csr -CA trusted-ca.pem -CAkey trusted-ca.key -CAcreateserial \
    -days 2 -extfile server.ext -out server.pem
) >"$work/openssl.out" 2>&1 || sed 's/^/  | /' "$work/openssl.out" >&2
secure=$work/secure
python3 "$src/tests/win32/loopback_http.py" start "$secure" "$ca/server.pem" "$ca/server.key" \
  || { echo "no https server" >&2; failed=$((failed + 1)); }
trap 'stop_servers; python3 "$src/tests/win32/loopback_http.py" stop "$secure"' EXIT
redirecting=$(cat "$secure/port" 2>/dev/null)
# The pinned prefix is done with: links go to ~/.wine again.
as_player "$bundle/install.sh" >/dev/null 2>&1
https_row() {  # https_row NAME CA-FILE PLACE-IN-ROOT EXPECTED-STATUS
  local name=$1 cert=$2 place=$3 expected=$4 archive=stairs-$5
  make_archives "$secure/root" "$archive"
  if [ -n "$place" ]; then
    mkdir -p "$root$(dirname "$place")"
    cp "$cert" "$root$place"
  fi
  click "pavix://127.0.0.1:$redirecting/to-https/$archive.zip"
  check "https, $name: the run ends with status $expected" same "$?" "$expected"
  if [ "$expected" -eq 0 ]; then
    check "https, $name: the package is installed" \
      test -f "$(downloads "$home/.wine")/${archive^}.package"
    check "https, $name: nothing says certificates are missing" lacks "$work/run.err" "no trusted certificates"
  else
    check "https, $name: nothing is installed" test ! -e "$(downloads "$home/.wine")/${archive^}.package"
    check "https, $name: the box tells the failure" holds "$work/run.err" "[$title] Unable to download file."
  fi
  [ -z "$place" ] || rm -f "$root$place"
}
https_row "Debian, Ubuntu, Arch, SteamOS" "$ca/trusted-ca.pem" /etc/ssl/certs/ca-certificates.crt 0 debian
https_row "Fedora, RHEL" "$ca/trusted-ca.pem" /etc/pki/tls/certs/ca-bundle.crt 0 fedora
https_row "openSUSE" "$ca/trusted-ca.pem" /var/lib/ca-certificates/ca-bundle.pem 0 suse
https_row "an unrelated CA" "$ca/stranger-ca.pem" /etc/ssl/certs/ca-certificates.crt 1 stranger
check "https, an unrelated CA: nothing says certificates are missing" \
  lacks "$work/run.err" "no trusted certificates"
https_row "no CA at all" "" "" 1 none
check "https, no CA at all: standard error says none was found" \
  holds "$work/run.err" "no trusted certificates found"
# None of these folders is in the minimal root.
rm -rf "$root/etc/pki" "$root/var/lib/ca-certificates" "$root/etc/ssl"

# ---- 2, the end: the uninstall leaves the root as it was -----------------------
as_player "$bundle/install.sh" --uninstall >"$work/uninstall.out" 2>&1
check "./install.sh --uninstall succeeds" same "$?" 0
after=$(listing)
check "no file is left, none is missing" same "$(diff <(echo "$before") <(echo "$after"))" ""
check "no pavix: association is left" \
  test -z "$(grep -rs 'x-scheme-handler/pavix' "$home" --include=mimeapps.list)"

# A mimeapps.list of the player's own, in XDG_CONFIG_HOME, and XDG_DATA_HOME
# elsewhere: its other lines stay, the pavix: lines get the installer first.
config=$home/cfg
data=$home/data
mkdir -p "$config"
printf '%s\n' '[Default Applications]' 'text/html=firefox-esr.desktop' \
  'x-scheme-handler/pavix=other.desktop;' '' '[Added Associations]' \
  'x-scheme-handler/pavix=other.desktop;' 'text/html=firefox-esr.desktop;' >"$config/mimeapps.list"
chown -R 1000:1000 "$config"
PLAYER_ENV="XDG_CONFIG_HOME=$player_home/cfg XDG_DATA_HOME=$player_home/data"
PLAYER_ENV=$PLAYER_ENV as_player "$bundle/install.sh" >"$work/install.out" 2>&1
check "./install.sh with XDG_CONFIG_HOME and XDG_DATA_HOME succeeds" same "$?" 0
check "it keeps the other lines of mimeapps.list" same "$(cat "$config/mimeapps.list")" \
  "$(printf '%s\n' '[Default Applications]' 'text/html=firefox-esr.desktop' \
     'x-scheme-handler/pavix=quorvane-installer.desktop;' '' '[Added Associations]' \
     'x-scheme-handler/pavix=quorvane-installer.desktop;other.desktop;' \
     'text/html=firefox-esr.desktop;')"
check "the desktop entry is in XDG_DATA_HOME" test -f "$data/applications/quorvane-installer.desktop"
rm -f "$(downloads "$home/.wine")/Oak.package"
check "a link through that entry installs the stairs" \
  click "pavix://127.0.0.1:$port/oak.zip" "$config" "$data"
check "the package is in ~/.wine again" test -f "$(downloads "$home/.wine")/Oak.package"
PLAYER_ENV=$PLAYER_ENV as_player "$bundle/install.sh" --uninstall >"$work/uninstall.out" 2>&1
check "./install.sh --uninstall succeeds there too" same "$?" 0
check "it drops only the installer from mimeapps.list" same "$(cat "$config/mimeapps.list")" \
  "$(printf '%s\n' '[Default Applications]' 'text/html=firefox-esr.desktop' '' \
     '[Added Associations]' 'x-scheme-handler/pavix=other.desktop;' \
     'text/html=firefox-esr.desktop;')"
check "and leaves no file of its own" \
  same "$(find "$data" "$home/.local" -type f 2>/dev/null)" ""
umount "$root/proc"

# ---- 4. the browser --------------------------------------------------------------
if QV_BUNDLE_TEST_PHASE=browser timeout 300 unshare --net -- "$0" "$src" "$work" "$build" \
  "$work/dist/$name"; then
  read -r browser_passed browser_failed <"$work/browser.counts"
  passed=$((passed + browser_passed))
  failed=$((failed + browser_failed))
else
  failed=$((failed + 1))
  echo "FAILED: the browser's way did not run to its end" >&2
fi

tally
