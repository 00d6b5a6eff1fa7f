#!/usr/bin/env bash
# Builds the 32-bit Windows program and puts exactly its two files into
# dist/win32/: quorvane-installer.exe and unzip32.dll. Checks that they need
# no DLL besides the system's.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh win32
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target quorvane-installer unzip32

rm -rf dist/win32
mkdir -p dist/win32
for file in quorvane-installer.exe unzip32.dll; do
  i686-w64-mingw32-strip -o "dist/win32/$file" "build/win32/bin/$file"
done

# Only DLLs that every Windows has may be imported.
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|urlmon|comctl32|msvcrt|ws2_32|shlwapi)\.dll$'
status=0
for file in dist/win32/*; do
  while read -r dll; do
    if ! echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$allowed"; then
      echo "build-win32: $file imports $dll, which is not a system DLL" >&2
      status=1
    fi
  done < <(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
ls -l dist/win32
exit $status
