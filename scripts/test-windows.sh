#!/usr/bin/env bash
# The Windows build under Wine: cross-builds the windows preset, runs its
# tests (the unit tests, the conformance tests and the executable check)
# under Wine, then the update scenarios through the test driver. Everything
# runs in a throwaway Wine prefix on a private Xvfb display; both are removed
# when the script ends, however it ends.
#
# The shipped program is 32-bit. Where the kernel runs no 32-bit code, Wine
# runs through qemu-i386 in a private namespace; where that cannot work
# either, the Wine tests are skipped with the reason (see
# scripts/wine-route.sh; UPDATE_WINE_ROUTE=native|qemu|skip forces a route).
#
# UPDATE_WINE_TIMEOUT: seconds any one Wine program may run (default 120;
# making the prefix may take 600); a crash never waits on a debugger.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-route.sh
source scripts/wine-route.sh
# shellcheck source=scripts/xvfb.sh
source scripts/xvfb.sh

wine_timeout="${UPDATE_WINE_TIMEOUT:-120}"

# Left out under qemu, each as "test-filter|reason" (or "scenarios: what|
# reason", which tests/wine/run-scenarios.sh leaves out itself); they run on
# every other route. Empty since qemu-i386 is built with the patches of
# scripts/qemu/.
qemu_left_out=()

# The Wine part proper: runs on the route's Wine (in the qemu namespace for
# that route).
wine_part() {
    local route="$1" started stage
    # Global: the exit trap reads them after this function has returned.
    scratch= xvfb_pid=
    started=$(date +%s)
    scratch="$(mktemp -d /tmp/update-wine.XXXXXX)"

    # Wine running as root writes over read-only files, unlike Windows: as
    # root, Wine runs as an ordinary user (see scripts/wine-run.sh).
    as_wine_user=()
    if [ "$(id -u)" = 0 ] && [ "${UPDATE_WINE_USER:-65534}" != 0 ]; then
        local wine_user="${UPDATE_WINE_USER:-65534}"
        as_wine_user=(setpriv --reuid="$wine_user" --regid="$wine_user" --clear-groups --)
        chown "$wine_user:$wine_user" "$scratch"
    fi

    cleanup() {
        WINEPREFIX="$scratch/prefix" timeout 60 "${as_wine_user[@]}" wineserver -k 2>/dev/null || true
        umount "$scratch/prefix/drive_c/Small" 2>/dev/null || true
        xvfb_stop
        rm -rf "$scratch"
    }
    trap cleanup EXIT
    trap 'exit 130' INT TERM

    # A display of our own.
    xvfb_start 1024x768x24 || exit 1

    export WINEPREFIX="$scratch/prefix"
    export HOME="$scratch"
    export WINEDEBUG=-all
    # No Mono or Gecko installer; and a crash ends the program instead of
    # starting winedbg (which under qemu hangs).
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export UPDATE_WINE_TIMEOUT="$wine_timeout"
    export UPDATE_WINE_ROUTE_ACTIVE="$route" # scripts/wine-run.sh takes no route of its own
    # Wine takes its ANSI code page from the locale: 1252 for the program's texts.
    unset LANG LANGUAGE LC_CTYPE LC_MESSAGES
    export LC_ALL=C.UTF-8

    # Every wine call of the scenarios ends within the time limit; timeout
    # runs it in a process group of its own and ends the whole group.
    UPDATE_WINE_PROGRAM="$(command -v wine)"
    export UPDATE_WINE_PROGRAM
    wine() { timeout --kill-after=10 "$UPDATE_WINE_TIMEOUT" "$UPDATE_WINE_PROGRAM" "$@"; }
    export -f wine

    echo "== windows: Wine prefix ($WINEPREFIX, display $DISPLAY)"
    "${as_wine_user[@]}" mkdir -p "$WINEPREFIX"
    "${as_wine_user[@]}" wineserver -p # kept running until the end: every wine call reuses it
    timeout --kill-after=10 600 "${as_wine_user[@]}" wineboot -i >/dev/null 2>&1 || {
        echo "== windows: wineboot failed or did not finish within 600 s" >&2
        exit 1
    }
    touch "$WINEPREFIX/.update-prepared" # tells scripts/wine-run.sh it is ready
    echo "== windows: Wine prefix ready after $(($(date +%s) - started)) s"

    if [ "$route" = qemu ] && [ ${#qemu_left_out[@]} -eq 0 ]; then
        echo "== windows: left out under qemu: nothing; every test and every scenario runs"
    elif [ "$route" = qemu ]; then
        local filter="" entry
        echo "== windows: left out under qemu, each for its reason:"
        for entry in "${qemu_left_out[@]}"; do
            echo "   ${entry%%|*}: ${entry#*|}"
            case "$entry" in
            scenarios:*) ;; # tests/wine/run-scenarios.sh leaves it out itself
            *) filter="$filter${filter:+:}${entry%%|*}" ;;
            esac
        done
        # GoogleTest reads its filter from the environment; a test that
        # names its own filter (the code page 932 run) is unaffected.
        if [ -n "$filter" ]; then
            export GTEST_FILTER="-$filter"
        fi
    fi

    echo "== windows: tests under Wine"
    ctest --preset windows

    echo "== windows: update scenarios under Wine"
    # A small volume for the scenario of a package that does not fit: a 1 MB
    # tmpfs as C:\Small, owned by the Wine user, where this run may mount one
    # (as root); without it that scenario says it is skipped.
    local small="$WINEPREFIX/drive_c/Small"
    mkdir -p "$small"
    mount -t tmpfs -o "size=1m,mode=0755,uid=$(stat -c %u "$WINEPREFIX"),gid=$(stat -c %g "$WINEPREFIX")" \
        tmpfs "$small" 2>/dev/null || echo "== windows: no 1 MB tmpfs for C:\Small (mounting needs root)"
    # The Wine user may not read the checkout (a clone under /root, say): what it
    # runs is staged in the scratch folder, which it owns.
    stage="$scratch/stage"
    mkdir -p "$stage"
    cp tests/wine/run-scenarios.sh build/windows/tests/wine/update_driver.exe \
        build/windows/tests/UpdateSigned.exe "$stage/"
    cp -r build/windows/tests/keys "$stage/keys"

    # Authenticode: Update.exe signed with a throwaway certificate of our
    # own, checked by osslsigncode (and an unsigned one refused); every
    # scenario then runs the signed program.
    echo "== windows: Authenticode signature of Update.exe (throwaway certificate)"
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Brenvolt Update Test" \
        -addext extendedKeyUsage=codeSigning -keyout "$scratch/sign.key" \
        -out "$scratch/sign.crt" 2>/dev/null
    bash scripts/sign-update-exe.sh "$scratch/sign.crt" "$scratch/sign.key" \
        build/windows/src/update/Update.exe "$stage/Update.exe"
    osslsigncode verify -CAfile "$scratch/sign.crt" -in "$stage/Update.exe" |
        grep -E '^(Signature verification|[[:space:]]*Subject):' | sort -u
    if osslsigncode verify -CAfile "$scratch/sign.crt" -in build/windows/src/update/Update.exe >/dev/null 2>&1; then
        echo "== windows: osslsigncode verify passes an unsigned Update.exe" >&2
        exit 1
    fi
    chmod -R a+rX "$stage"
    (cd "$stage" && "${as_wine_user[@]}" bash ./run-scenarios.sh ./Update.exe ./update_driver.exe \
        ./UpdateSigned.exe ./keys)

    echo "== windows: the Wine part took $(($(date +%s) - started)) s (route $route)"
}

if [ "${1:-}" = --wine-part ]; then
    wine_part "$2"
    exit 0
fi

tools=(wine wineboot wineserver Xvfb i686-w64-mingw32-g++-posix i686-w64-mingw32-windres timeout setpriv unshare
    openssl osslsigncode)
missing_tools() {
    missing=()
    for tool in "${tools[@]}"; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
}

# What the route needs and the machine lacks is installed when we are root.
missing_tools
wine_route_choose || {
    echo "== windows: $wine_route_reason" >&2
    exit 2
}
needs_qemu=
if [ "$wine_route" = qemu ] || { [ "$wine_route" = skip ] && [ -z "${UPDATE_WINE_ROUTE:-}" ]; }; then
    [ -z "$(wine_route_qemu_missing)" ] || needs_qemu=yes
fi
if { [ ${#missing[@]} -gt 0 ] || [ -n "$needs_qemu" ]; } && [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh || echo "== windows: installing the missing packages failed" >&2
    missing_tools
    wine_route_choose
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "== windows: SKIPPED: not installed and cannot be installed here: ${missing[*]}" >&2
    echo "   (run scripts/install-deps.sh as root)" >&2
    exit 0
fi

# A forced route must work; a chosen one does.
case "${UPDATE_WINE_ROUTE:-}" in
native)
    wine_route_native_works || {
        echo "== windows: UPDATE_WINE_ROUTE=native, but this kernel runs no 32-bit x86 code" >&2
        exit 1
    }
    ;;
qemu)
    missing="$(wine_route_qemu_missing | tr '\n' ' ')"
    if [ -n "$missing" ]; then
        echo "== windows: UPDATE_WINE_ROUTE=qemu, but not installed: $missing" >&2
        exit 1
    fi
    wine_route_qemu_works || {
        echo "== windows: UPDATE_WINE_ROUTE=qemu, but it does not work here: $wine_route_reason" >&2
        exit 1
    }
    ;;
esac
echo "== windows: Wine route: $wine_route ($wine_route_reason)"

echo "== windows (cross-build)"
cmake --preset windows >/dev/null
cmake --build --preset windows

case "$wine_route" in
native)
    wine_part native
    ;;
qemu)
    wine_route_qemu_run bash scripts/test-windows.sh --wine-part qemu
    ;;
skip)
    echo "== windows: the executable check (needs no Wine)"
    ctest --preset windows -L windows
    echo "== windows: SKIPPED: the tests under Wine and the update scenarios: $wine_route_reason"
    ;;
esac
