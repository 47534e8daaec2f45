#!/usr/bin/env bash
# Takes the README's picture of the progress window under Wine: starts
# Update.exe on a long package (files of 16 MB) in a throwaway prefix on a
# private Xvfb display, grabs the screen once the window is up, and writes
# it cropped to the window, in 64 colours, to docs/progress-window.png (or
# the path given). Everything started is ended and removed when the script
# ends. Not run by the tests.
#
# Usage: scripts/screenshot-progress.sh [OUTPUT.png]
# Needs the windows preset built, Xvfb, xwininfo (x11-utils) and ImageMagick's
# import and convert; the Wine route as scripts/wine-route.sh chooses it (for
# the qemu route, root). Wine runs as the caller: the prefix is its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
output="$(realpath -m "${1:-docs/progress-window.png}")"
update_exe="$root/build/windows/src/update/Update.exe"
[ -f "$update_exe" ] || {
    echo "build the windows preset first: $update_exe is missing" >&2
    exit 1
}

if [ -z "${UPDATE_WINE_ROUTE_ACTIVE:-}" ]; then
    # shellcheck source=scripts/wine-route.sh
    source scripts/wine-route.sh
    wine_route_choose
    case "$wine_route" in
    qemu)
        wine_route_qemu_run bash "$0" "$output"
        exit
        ;;
    skip)
        echo "no Wine for 32-bit programs here: $wine_route_reason" >&2
        exit 2
        ;;
    esac
fi

# shellcheck source=scripts/xvfb.sh
source scripts/xvfb.sh
scratch="$(mktemp -d /tmp/update-shot.XXXXXX)"
xvfb_pid=
update_pid=
cleanup() {
    WINEPREFIX="$scratch/prefix" timeout 60 wineserver -k 2>/dev/null || true
    [ -z "$update_pid" ] || wait "$update_pid" 2>/dev/null || true
    xvfb_stop
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

xvfb_start 800x600x24 || exit 1

export WINEPREFIX="$scratch/prefix" HOME="$scratch" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset LANG LANGUAGE LC_CTYPE LC_MESSAGES
export LC_ALL=C.UTF-8
mkdir -p "$WINEPREFIX"
wineserver -p # kept running until the end: every wine call reuses it
timeout --kill-after=10 600 wineboot -i >/dev/null 2>&1
# Xvfb has no window manager: Wine draws the caption and frame itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# An installation, its registry value as the 32-bit installer writes it, and a
# package long enough for the window to show.
drive_c="$WINEPREFIX/drive_c"
mkdir -p "$drive_c/Brenvolt" "$drive_c/Patch/Data"
echo product >"$drive_c/Brenvolt/BV.EXE"
wine reg add 'HKLM\SOFTWARE\Quorvane Software\Brenvolt\1.0' /ve /d 'C:\Brenvolt' /f /reg:32 >/dev/null 2>&1
cp "$update_exe" "$drive_c/Patch/Update.exe"
for i in $(seq 10 59); do truncate -s 16M "$drive_c/Patch/Data/big$i.dat"; done

(cd "$drive_c/Patch" && exec wine 'C:\Patch\Update.exe') >/dev/null 2>&1 &
update_pid=$!
window=
for _ in $(seq 1 600); do
    window="$(xwininfo -root -tree 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "Brenvolt-Update".*/\1/p' | head -n 1)"
    [ -z "$window" ] || break
    sleep 0.1
done
[ -n "$window" ] || {
    echo "the progress window did not show" >&2
    exit 1
}
# Let a few files pass so that the bar has moved, not all of them.
sleep 0.5
import -display "$DISPLAY" -window root "$scratch/screen.png"
geometry="$(xwininfo -id "$window" | awk '
    /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF }
    END { printf "%dx%d+%d+%d", w, h, x, y }')"
mkdir -p "$(dirname "$output")"
convert "$scratch/screen.png" -crop "$geometry" +repage -colors 64 -strip "$output"
echo "$output: window $geometry"
