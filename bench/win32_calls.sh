#!/usr/bin/env bash
# The Win32 calls that the Windows Update.exe itself makes, counted under
# Wine: one silent run over a package of 40 files that replace installed
# ones and 10 new files in a new folder, with Wine's relay log on; a call
# counts when its return address lies in Update.exe's image (calls that
# Wine's own DLLs make on its behalf do not). Prints each function's count
# and its count per file, the file-system calls first.
#
# Run: bench/win32_calls.sh [Update.exe]  (default build/windows/src/update/Update.exe)
# BENCH_REPLACED and BENCH_NEW change the package. Needs Wine (a throwaway
# prefix is made, which takes a while) and the MinGW objdump. Counts do not
# depend on the route: where 32-bit code runs only through qemu, the same
# script runs there (scripts/wine-route.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
program=$(realpath "${1:-build/windows/src/update/Update.exe}")
replaced=${BENCH_REPLACED:-40}
new=${BENCH_NEW:-10}

if [ -z "${UPDATE_WINE_ROUTE_ACTIVE:-}" ]; then
    # shellcheck source=scripts/wine-route.sh
    source scripts/wine-route.sh
    wine_route_choose || {
        echo "win32_calls: $wine_route_reason" >&2
        exit 2
    }
    case "$wine_route" in
    qemu)
        export UPDATE_WINE_ROUTE_ACTIVE=qemu
        wine_route_qemu_run bash "$here/bench/win32_calls.sh" "$program"
        exit
        ;;
    skip)
        echo "win32_calls: no Wine for 32-bit programs here: $wine_route_reason" >&2
        exit 2
        ;;
    esac
fi

work=$(mktemp -d /tmp/win32-calls-XXXXXX)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset LANG LANGUAGE LC_CTYPE LC_MESSAGES DISPLAY
export LC_ALL=C.UTF-8
mkdir -p "$work/package/New" "$work/install"
for ((i = 0; i < replaced; ++i)); do
    printf 'new %d\n' "$i" >"$work/package/file$i.dat"
    printf 'old %d\n' "$i" >"$work/install/file$i.dat"
done
for ((i = 0; i < new; ++i)); do printf 'new %d\n' "$i" >"$work/package/New/new$i.dat"; done
printf 'Brenvolt 1.00\n' >"$work/install/BV.EXE"
cp "$program" "$work/package/Update.exe"

WINEDEBUG=-all timeout --kill-after=10 600 wineboot -i >/dev/null 2>&1
WINEDEBUG=-all wine reg add 'HKLM\SOFTWARE\Quorvane Software\Brenvolt\1.0' /ve \
    /d "Z:${work//\//\\}\\install" /f /reg:32 >/dev/null 2>&1

# The image's range, from its PE header.
read -r base size < <(i686-w64-mingw32-objdump -p "$program" |
    awk '/^ImageBase/ { b = $2 } /^SizeOfImage/ { s = $2 } END { print b, s }')
status=0
(cd "$work/package" && WINEDEBUG=+relay timeout --kill-after=10 600 wine ./Update.exe /S \
    2>"$work/relay.log" >/dev/null) || status=$?
if [ "$status" != 0 ] || ! cmp -s "$work/package/file0.dat" "$work/install/file0.dat" ||
    ! cmp -s "$work/package/New/new0.dat" "$work/install/New/new0.dat"; then
    echo "win32_calls: the run did not install the package (exit $status)" >&2
    exit 1
fi
files=$((replaced + new))
echo "== Win32 calls of Update.exe itself: $replaced replaced and $new new files" \
    "(relay log, return address in the image)"
# Return addresses are eight hex digits: compared as text.
low=$(printf '%08x' $((16#$base)))
high=$(printf '%08x' $((16#$base + 16#$size)))
awk -v low="$low" -v high="$high" -v files="$files" '
    /:Call [A-Za-z0-9_]+\./ && match($0, /ret=[0-9a-f]+/) {
        ret = substr($0, RSTART + 4, RLENGTH - 4)
        if (length(ret) != 8 || ret < low || ret >= high) next
        match($0, /:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+/)
        name = substr($0, RSTART + 6, RLENGTH - 6); sub(/^[^.]*\./, "", name)
        count[name]++
    }
    END {
        fs = "^(CreateFile|CloseHandle|Find(First|Next)File|FindClose|MoveFile|GetFileAttributes|" \
             "SetFileAttributes|FlushFileBuffers|CopyFile|DeleteFile|GetFinalPathNameByHandle|" \
             "GetFileInformationByHandle|CreateDirectory|RemoveDirectory|ReadFile|WriteFile|" \
             "SetFileInformationByHandle|GetFileSize|SetFilePointer|SetEndOfFile|LockFile|UnlockFile)"
        for (name in count) {
            kind = name ~ fs ? 0 : 1
            printf "%d %8d %-32s %6.2f\n", kind, count[name], name, count[name] / files
            if (kind == 0) total += count[name]
        }
        printf "0 %8d %-32s %6.2f\n", total, "(file-system calls)", total / files
    }' "$work/relay.log" | sort -k1,1n -k2,2nr | awk '{ $1 = ""; printf "%s\n", substr($0, 2) }' |
    awk 'BEGIN { printf "%8s %-32s %6s\n", "calls", "function", "a file" }
         { printf "%8s %-32s %6s\n", $1, $2, $3 }'
