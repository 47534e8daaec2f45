#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine: the emulator that ctest uses
# for the windows preset. The Wine prefix is $WINEPREFIX when set (the Wine
# test script makes a throwaway one), else one kept under build/ and made on
# first use.
set -euo pipefail
# --locale NAME: start Wine under that Unix locale (it picks the ANSI code
# page from it, e.g. ja_JP gives 932); set here rather than by the caller so
# that this shell does not complain about a locale the C library lacks.
locale=
if [ "${1:-}" = --locale ]; then
    locale="$2"
    shift 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/../build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The mark is written once the prefix is complete (by us or by the Wine test
# script); the registry files alone do not tell, a running server writes them
# late.
prepared="$WINEPREFIX/.update-prepared"
if [ ! -f "$prepared" ]; then
    mkdir -p "$WINEPREFIX"
    # Two tests may start at once; one makes the prefix, the other waits.
    (
        flock 9
        if [ ! -f "$prepared" ]; then
            wineboot -i >/dev/null 2>&1
            touch "$prepared"
        fi
    ) 9>"$WINEPREFIX/../.$(basename "$WINEPREFIX").lock"
fi

if [ -n "$locale" ]; then
    exec env LANG="$locale" LC_ALL="$locale" wine "$@"
fi
exec wine "$@"
