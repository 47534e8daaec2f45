#!/usr/bin/env bash
# The Windows build under Wine: cross-builds the windows preset, runs its
# tests (the unit tests, the conformance tests and the executable check)
# under Wine, then the update scenarios through the test driver. Everything
# runs in a throwaway Wine prefix on a private Xvfb display; both are removed
# when the script ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for tool in wine wineboot wineserver Xvfb i686-w64-mingw32-g++-posix i686-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh || echo "== windows: installing the missing packages failed" >&2
    missing=()
    for tool in wine wineboot wineserver Xvfb i686-w64-mingw32-g++-posix i686-w64-mingw32-windres; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "== windows: SKIPPED, not installed and cannot be installed here: ${missing[*]}" >&2
    echo "   (run scripts/install-deps.sh as root)" >&2
    exit 0
fi

echo "== windows (cross-build)"
cmake --preset windows >/dev/null
cmake --build --preset windows

started=$(date +%s)
scratch="$(mktemp -d /tmp/update-wine.XXXXXX)"

# Wine running as root writes over read-only files, unlike Windows: as root,
# Wine runs as an ordinary user (see scripts/wine-run.sh).
as_wine_user=()
if [ "$(id -u)" = 0 ] && [ "${UPDATE_WINE_USER:-65534}" != 0 ]; then
    wine_user="${UPDATE_WINE_USER:-65534}"
    as_wine_user=(setpriv --reuid="$wine_user" --regid="$wine_user" --clear-groups --)
    chown "$wine_user:$wine_user" "$scratch"
fi

xvfb_pid=
cleanup() {
    WINEPREFIX="$scratch/prefix" "${as_wine_user[@]}" wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of our own: Xvfb picks a free number and writes it to the pipe.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 display_number <&"$display_fd" || {
    echo "Xvfb did not start" >&2
    exit 1
}
exec {display_fd}<&-
export DISPLAY=":$display_number"

export WINEPREFIX="$scratch/prefix"
export HOME="$scratch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its ANSI code page from the locale: 1252 for the program's texts.
unset LANG LANGUAGE LC_CTYPE LC_MESSAGES
export LC_ALL=C.UTF-8
echo "== windows: Wine prefix ($WINEPREFIX, display $DISPLAY)"
"${as_wine_user[@]}" mkdir -p "$WINEPREFIX"
"${as_wine_user[@]}" wineserver -p # kept running until the end: every wine call reuses it
"${as_wine_user[@]}" wineboot -i >/dev/null 2>&1
touch "$WINEPREFIX/.update-prepared" # tells scripts/wine-run.sh it is ready

echo "== windows: tests under Wine"
ctest --preset windows

echo "== windows: update scenarios under Wine"
# The Wine user may not read the checkout (a clone under /root, say): what it
# runs is staged in the scratch folder, which it owns.
stage="$scratch/stage"
mkdir -p "$stage"
cp tests/wine/run-scenarios.sh build/windows/src/update/Update.exe \
    build/windows/tests/wine/update_driver.exe "$stage/"
chmod -R a+rX "$stage"
(cd "$stage" && "${as_wine_user[@]}" bash ./run-scenarios.sh ./Update.exe ./update_driver.exe)

echo "== windows: the Wine part took $(($(date +%s) - started)) s"
