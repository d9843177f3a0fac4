#!/bin/sh
# The plug-in library's shape: a 32-bit i386 PE DLL whose three exports are
# named below and whose imports are system DLLs only.
#   check_pe.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2
headers=$("$objdump" -p "$dll")
echo "$headers" | grep -q '^Magic.*010b' || { echo "not PE32"; exit 1; }
"$objdump" -f "$dll" | grep -q 'architecture: i386' || { echo "not i386"; exit 1; }
exports=$(echo "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep -c '^\s*\[' || true)
[ "$exports" -eq 3 ] || { echo "exports: $exports"; exit 1; }
for name in winampGetExtendedFileInfo winampGetExtendedFileInfoW winampGetInModule2; do
    echo "$headers" | grep -q "\] $name\$" || { echo "no export $name"; exit 1; }
done
for name in $(echo "$headers" | sed -n 's/^\s*DLL Name: //p'); do
    case $(echo "$name" | tr 'A-Z' 'a-z') in
        kernel32.dll|user32.dll|msvcrt.dll|comctl32.dll|gdi32.dll|advapi32.dll) ;;
        *) echo "imports $name"; exit 1 ;;
    esac
done
echo "PE32 i386 DLL, its three exports, system imports only"
