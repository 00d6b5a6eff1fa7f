#!/usr/bin/env bash
# A new player on Windows, under Wine in a fresh prefix: the setup of this
# build run silently, then a "pavix:" link started by the shell
# (`wine start`), which must start the installed program and install the
# stairs from a loopback server; the setup again over the installed copy
# (updates it in place), silently and then page by page, whose finish page
# must name the game found; the uninstaller run silently, which must leave
# no file and no key; last, without the game, the finish page must say so.
# The installer's boxes are answered by answer-boxes.exe, the setup's pages
# by page-through.exe.
#   win32_setup_test.sh SOURCE-DIR BIN-DIR WORK-DIR VERSION [win64]
set -uo pipefail

src=$1
bin=$2
work=$3
version=$4
arch=${5:-win32}
rm -rf "$work"
mkdir -p "$work/home"

source "$src/tests/setup/common.sh"

# A prefix and a server of the test's own; Wine's links from the prefix's
# Documents and Desktop go to a home of its own.
export WINEPREFIX=$work/prefix HOME=$work/home WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if [ "$arch" = win64 ]; then
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64
  nsis_arch=-DWIN64
else
  loader=wine
  export WINEARCH=win32
  nsis_arch=
fi
cleanup() {
  python3 "$src/tests/win32/loopback_http.py" stop "$work/http"
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

# The setup of this build's two files.
makensis -V2 -DVERSION="$version" -DDIST="$bin" -DOUTFILE="$work/QuorvaneSetup.exe" $nsis_arch \
  "$src/tools/windows/QuorvaneSetup.nsi" || { echo "makensis failed" >&2; exit 1; }

"$loader" wineboot --init >/dev/null 2>&1
wineserver -w
user=$("$loader" cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
folder="C:\\users\\$user\\AppData\\Local\\Programs\\Quorvane"
native=$WINEPREFIX/drive_c/users/$user/AppData/Local/Programs/Quorvane
command="\"$folder\\quorvane-installer.exe\" \"%1\""
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
# The setup's keys; `key_exists KEY` asks Wine's own reg.
key_exists() { "$loader" reg query "$1" >/dev/null 2>&1; }
not() { ! "$@"; }
query() { "$loader" reg query "$@" 2>/dev/null | tr -d '\r' >"$work/query"; }

# The game: its registry value and catalog script, and the Downloads folder
# below the documents folder (Wine links it to the home).
game=$WINEPREFIX/drive_c/Games/Sims2
mkdir -p "$game/TSData/Res/Catalog/Scripts" "$HOME/EA Games/The Sims 2/Downloads"
printf '# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n' \
  >"$game/TSData/Res/Catalog/Scripts/modularstairs.txt"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\EA GAMES\\The Sims 2]\r\n"Install Dir"="C:\\\\Games\\\\Sims2\\\\"\r\n' \
  >"$work/game.reg"
"$loader" regedit /S "$(winepath -w "$work/game.reg" 2>/dev/null)" >/dev/null 2>&1

python3 "$src/tests/win32/loopback_http.py" start "$work/http" || { echo "no server" >&2; exit 1; }
port=$(cat "$work/http/port")
python3 - "$work/http/root/stairs.zip" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("Stairs/Oak.package", "DBPF package " + "p" * 4096)
    z.writestr("Stairs/ReadMe.txt", "# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\n")
EOF

# What the prefix's user folder holds before the setup; aside: Temp, and
# the cache that the system's download call keeps of what the installer
# fetched (the system's files, not the setup's).
listing() {
  (cd "$WINEPREFIX/drive_c/users" &&
    find . -path "./$user/Temp" -prune -o -path "*/Microsoft/Windows/INetC*" -prune -o -print | sort)
}
before=$(listing)

# 1. The silent setup.
check "the setup runs silently" "$loader" "$work/QuorvaneSetup.exe" /S
for file in quorvane-installer.exe unzip32.dll uninstall.exe; do
  check "it installs $file" test -f "$native/$file"
done
check "it registers the scheme for the user" query 'HKCU\Software\Classes\pavix\shell\open\command' /ve
check "with the installed program's command" holds "$work/query" "$command"
check "as a URL protocol" query 'HKCU\Software\Classes\pavix' /v "URL Protocol"
query "$uninstall_key"
for value in "DisplayName    REG_SZ    Quorvane Modular Stair Installer" \
             "DisplayVersion    REG_SZ    $version" "Publisher    REG_SZ    Quorvane" \
             "UninstallString    REG_SZ    \"$folder\\uninstall.exe\"" \
             "QuietUninstallString    REG_SZ    \"$folder\\uninstall.exe\" /S" \
             "InstallLocation    REG_SZ    $folder" "NoModify    REG_DWORD    0x1" \
             "NoRepair    REG_DWORD    0x1"; do
  check "the uninstall entry holds ${value%%  *}" holds "$work/query" "$value"
done

# 2. A link, started by the shell as a browser would hand it over.
"$loader" "$bin/answer-boxes.exe" "Quorvane Modular Stair Installer" 1 >"$work/boxes" 2>&1 &
answerer=$!
check "wine start hands the link to the shell" "$loader" start "pavix://127.0.0.1:$port/stairs.zip"
wait "$answerer"
check "the installer's box tells the success" holds "$work/boxes" "Modular stairs successfully installed."
check "the package is installed" test -f "$HOME/EA Games/The Sims 2/Downloads/Oak.package"
check "the read-me is merged" holds "$game/TSData/Res/Catalog/Scripts/modularstairs.txt" \
  "modularStairs 42"
wineserver -w  # the installer and whatever it started have ended

# 3. The setup over the installed copy puts this build's files back.
echo stale >"$native/unzip32.dll"
check "the setup runs again" "$loader" "$work/QuorvaneSetup.exe" /S
check "it updates the installed copy" cmp -s "$bin/unzip32.dll" "$native/unzip32.dll"

# The setup as a player meets it, page by page; the finish page's text goes
# to $work/finish.
paged_setup() {
  "$loader" "$bin/page-through.exe" "Quorvane Modular Stair Installer Setup" >"$work/finish" 2>&1 &
  local pager=$!
  "$loader" "$work/QuorvaneSetup.exe" && wait "$pager"
}
check "the setup runs page by page" paged_setup
check "its finish page names the edition found" holds "$work/finish" "Found: The Sims 2"
check "and its folder" holds "$work/finish" 'Game folder: C:\Games\Sims2\'
check "and says what to do next" holds "$work/finish" 'click a "pavix:" link on a stair page'
check "and how the installer answers" holds "$work/finish" "it answers in message boxes"

# 4. The silent uninstall: it copies itself away and returns at once, so
# the test waits until every program of the prefix has ended.
check "the uninstaller runs silently" "$loader" "$native/uninstall.exe" /S
wineserver -w
check "no file is left" diff <(echo "$before") <(listing)
for key in 'HKCU\Software\Classes\pavix' 'HKLM\Software\Classes\pavix' "$uninstall_key"; do
  check "no key $key is left" not key_exists "$key"
done

# 5. Without the game, the finish page says so plainly.
"$loader" reg delete 'HKLM\Software\EA GAMES\The Sims 2' /f >/dev/null 2>&1
check "the setup runs page by page without the game" paged_setup
check "its finish page says that the game was not found" holds "$work/finish" \
  "The Sims 2 was not found on this computer"

tally
