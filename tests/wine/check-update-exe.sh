#!/usr/bin/env bash
# Checks the shipped Update.exe as a file: a 32-bit (PE32, i386) GUI program
# entered through WinMain, importing only KERNEL32, USER32, ADVAPI32, COMCTL32 (the
# progress bar), bcrypt (SHA-256) and the system C runtime, and carrying its version resource and manifest.
# Usage: check-update-exe.sh UPDATE_EXE OBJDUMP NM WINDRES
set -uo pipefail
exe="$1" objdump="$2" nm="$3" windres="$4"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { # expect DESCRIPTION TEXT PATTERN
    grep -Eq -- "$3" <<<"$2" || fail "$1 (no match for: $3)"
}

[ "$(basename "$exe")" = Update.exe ] || fail "the program is named $(basename "$exe"), not Update.exe"

header="$("$objdump" -f "$exe")" || fail "objdump -f failed"
expect "32-bit x86 PE" "$header" 'file format pei-i386'
expect "i386 architecture" "$header" 'architecture: i386'

private="$("$objdump" -p "$exe")" || fail "objdump -p failed"
expect "PE32 optional header" "$private" '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)'
expect "GUI subsystem" "$private" '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)'

imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private" | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')"
[ "$imports" = "ADVAPI32.DLL BCRYPT.DLL COMCTL32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] ||
    fail "imports are [$imports], expected ADVAPI32, bcrypt, COMCTL32, KERNEL32, msvcrt and USER32 alone"

symbols="$("$nm" "$exe" 2>/dev/null)"
expect "entered through the GUI start-up" "$symbols" ' T _WinMainCRTStartup$'
expect "WinMain defined" "$symbols" ' T _WinMain@16$'

resources="$("$windres" -J coff -O rc -i "$exe" 2>&1)" || fail "windres cannot read the resources"
expect "version resource" "$resources" '^1 VERSIONINFO'
expect "file version" "$resources" '^ FILEVERSION [0-9]+, [0-9]+, [0-9]+, [0-9]+'
expect "product name" "$resources" 'VALUE "ProductName", "Brenvolt"'
expect "file description" "$resources" 'VALUE "FileDescription", "[^"]+"'
expect "file version text" "$resources" 'VALUE "FileVersion", "[0-9.]+"'
expect "manifest resource (RT_MANIFEST, id 1)" "$resources" '^1 24 '
expect "elevation level" "$resources" 'requestedExecutionLevel level=""highestAvailable""'
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
    8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    expect "supportedOS $os" "$resources" "supportedOS Id=\"\"\\{$os\\}\"\""
done

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed for $exe"
    exit 1
fi
echo "Update.exe: PE32 i386, GUI, WinMain; imports [$imports]; version resource and manifest present"
