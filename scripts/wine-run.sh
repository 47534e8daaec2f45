#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine: the emulator that ctest uses
# for the windows preset. The Wine prefix is $WINEPREFIX when set (the Wine
# test script makes a throwaway one), else one kept under build/ and made on
# first use.
#
# Wine running as root writes over read-only files (root passes every Unix
# permission check), unlike Windows; so when started as root, Wine runs as
# the ordinary user $UPDATE_WINE_USER (a uid, default 65534, "nobody"; 0
# keeps root).
#
# The program may run for $UPDATE_WINE_TIMEOUT seconds (default 120); a
# crash ends it rather than waiting on a debugger. Where the kernel runs no
# 32-bit code, Wine runs through qemu (see scripts/wine-route.sh).
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

# Started by ctest alone (not from scripts/test-windows.sh, which has taken
# its route already): take the route here.
if [ -z "${UPDATE_WINE_ROUTE_ACTIVE:-}" ]; then
    # shellcheck source=scripts/wine-route.sh
    source "$here/wine-route.sh"
    wine_route_choose || {
        echo "wine-run.sh: $wine_route_reason" >&2
        exit 2
    }
    case "$wine_route" in
    qemu)
        [ -z "$locale" ] || set -- --locale "$locale" "$@"
        wine_route_qemu_run bash "$here/wine-run.sh" "$@"
        exit
        ;;
    skip)
        echo "wine-run.sh: no Wine for 32-bit programs here: $wine_route_reason" >&2
        exit 2
        ;;
    esac
    export UPDATE_WINE_ROUTE_ACTIVE=native
fi

export WINEPREFIX="${WINEPREFIX:-$here/../build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winedbg.exe=d"
timeout=(timeout --kill-after=10 "${UPDATE_WINE_TIMEOUT:-120}")

as_wine_user=()
if [ "$(id -u)" = 0 ] && [ "${UPDATE_WINE_USER:-65534}" != 0 ]; then
    user="${UPDATE_WINE_USER:-65534}"
    as_wine_user=(setpriv --reuid="$user" --regid="$user" --clear-groups --)
    export HOME="$WINEPREFIX"
fi

# The mark is written once the prefix is complete (by us or by the Wine test
# script); the registry files alone do not tell, a running server writes them
# late.
prepared="$WINEPREFIX/.update-prepared"
if [ ! -f "$prepared" ]; then
    mkdir -p "$WINEPREFIX"
    if [ ${#as_wine_user[@]} -gt 0 ]; then
        chown "$user:$user" "$WINEPREFIX"
    fi
    # Two tests may start at once; one makes the prefix, the other waits.
    (
        flock 9
        if [ ! -f "$prepared" ]; then
            timeout --kill-after=10 600 "${as_wine_user[@]}" wineboot -i >/dev/null 2>&1
            touch "$prepared"
        fi
    ) 9>"$WINEPREFIX/../.$(basename "$WINEPREFIX").lock"
fi

# That user may not read the build directory (a checkout under /root, say),
# nor write to it, where tests write scratch files: the program is staged in
# the prefix's drive C: and runs there.
if [ ${#as_wine_user[@]} -gt 0 ] && [ -f "${1:-}" ]; then
    program="$(realpath "$1")"
    shift
    stage="$(mktemp -d "$WINEPREFIX/drive_c/run.XXXXXX")"
    trap 'rm -rf "$stage"' EXIT
    cp "$program" "$stage/"
    chown -R "$user:$user" "$stage"
    cd "$stage"
    set -- "$stage/$(basename "$program")" "$@"
fi

run() {
    if [ -n "$locale" ]; then
        "${timeout[@]}" "${as_wine_user[@]}" env LANG="$locale" LC_ALL="$locale" wine "$@"
    else
        "${timeout[@]}" "${as_wine_user[@]}" wine "$@"
    fi
}

# No exec: the staged copy is removed when the program ends.
run "$@"
