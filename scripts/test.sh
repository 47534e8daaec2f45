#!/usr/bin/env bash
# Builds and runs every test: formatting, the includes between the rooms of
# src/update, the Linux build, the sanitizer build, a bounded fuzzing run,
# and the Windows build under Wine. Ends with how long each part took.
set -euo pipefail
cd "$(dirname "$0")/.."

parts=()
part_started=
part_name=
# part NAME: ends the part under way (if any) and starts NAME.
part() {
    local now
    now=$(date +%s)
    if [ -n "$part_name" ]; then
        parts+=("$(printf '%5d s  %s' $((now - part_started)) "$part_name")")
    fi
    part_name="$1"
    part_started=$now
    [ -z "$part_name" ] || echo "== $part_name"
}
report() {
    local status=$?
    part ""
    echo "== time taken by each part$([ "$status" = 0 ] || echo " (the run failed, status $status)"):"
    printf '   %s\n' "${parts[@]}"
}
trap report EXIT
started=$(date +%s)

part "installing what is missing"
bash scripts/install-deps.sh

part "formatting"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

part "rooms"
bash scripts/check-rooms.sh

for preset in linux sanitize; do
    part "$preset: build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    part "$preset: tests"
    ctest --preset "$preset"
done

part "fuzz"
bash scripts/fuzz.sh 60

if [ -f scripts/test-windows.sh ]; then
    part "windows: build and tests under Wine"
    bash scripts/test-windows.sh
fi
part ""
parts+=("$(printf '%5d s  %s' $(($(date +%s) - started)) "in all")")
