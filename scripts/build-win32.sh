#!/usr/bin/env bash
# Builds the 32-bit Windows program and puts its two files into dist/win32/:
# quorvane-installer.exe and unzip32.dll, with quorvane-find-game.exe, which
# only the setup runs (for its finish page). Checks that they need no DLL
# besides the system's. Then packs them into the player's setup,
# dist/win32/QuorvaneSetup.exe (NSIS, tools/windows/QuorvaneSetup.nsi).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh win32
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target quorvane-installer unzip32 quorvane-find-game

rm -rf dist/win32
mkdir -p dist/win32
for file in quorvane-installer.exe unzip32.dll quorvane-find-game.exe; do
  i686-w64-mingw32-strip -o "dist/win32/$file" "build/win32/bin/$file"
done

# Only DLLs that every Windows has may be imported.
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|urlmon|comctl32|msvcrt|ws2_32|shlwapi)\.dll$'
status=0
for file in dist/win32/*.exe dist/win32/*.dll; do
  while read -r dll; do
    if ! echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$allowed"; then
      echo "build-win32: $file imports $dll, which is not a system DLL" >&2
      status=1
    fi
  done < <(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
fail() { echo "build-win32: $*" >&2; status=1; }
exe=dist/win32/quorvane-installer.exe
dll=dist/win32/unzip32.dll
for file in "$exe" "$dll" dist/win32/quorvane-find-game.exe; do
  i686-w64-mingw32-objdump -f "$file" | grep -q 'file format pei-i386' || fail "$file is not a 32-bit program"
done
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || fail "$exe is not a GUI-subsystem program"
# Resource types at the top of the resource tree: 0x10 version, 0x18 manifest.
for type in 000010 000018; do
  grep -Eq "^0[0-9a-f]{2}   Entry: ID: 0x$type," <<<"$headers" || fail "$exe lacks resource type 0x$type"
done
# What only the tests' build may do (QV_TEST_FAULTS) is not in the players'
# program.
! grep -q QV_TEST_FAULTS "$exe" || fail "$exe carries the tests' fault injection"
# Exactly the two entry points, undecorated, and stdcall in the build (the
# unstripped library still has the decorated symbols).
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
[ "$exports" = "UzpVersion2 Wiz_SingleEntryUnzip " ] || fail "$dll exports '$exports'"
symbols=$(i686-w64-mingw32-nm build/win32/bin/unzip32.dll)
for symbol in _UzpVersion2@4 _Wiz_SingleEntryUnzip@24; do
  grep -q " T $symbol\$" <<<"$symbols" || fail "$dll has no stdcall $symbol"
done

total=$(( $(stat -c %s "$exe") + $(stat -c %s "$dll") ))
echo "build-win32: $total bytes together"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
setup=dist/win32/QuorvaneSetup.exe
makensis -V2 -DVERSION="$version" -DDIST="$PWD/dist/win32" -DOUTFILE="$PWD/$setup" \
  tools/windows/QuorvaneSetup.nsi || fail "makensis could not make $setup"
ls -l dist/win32
[ -f "$setup" ] && echo "build-win32: the setup is $(stat -c %s "$setup") bytes"
exit $status
