#!/usr/bin/env bash
# What measuring the package costs a run, side by side: on a package of
# many small files (BENCH_FILES, default 200,000, of 64 bytes in 400
# folders) each round times
#   - an interactive run, which measures the package before it copies
#     (and shows the window: in the stand-in a line on standard error),
#   - a silent run (/S), which measures it too (for the space check) and
#     shows nothing,
#   - the walk that measures, alone (bench/measure_package, median of 3),
# each run into a fresh installation, the two runs in turns first. Every
# run measures the package once, for the space check before staging and
# (interactive) for the progress total: no run leaves the walk out, so its
# cost is the walk alone against a whole run (walk / silent), and the
# difference of the two runs is the window, the box and the notes alone.
# The table gives medians and the ratios.
#
# Environment: BENCH_FILES (default 200000), BENCH_PROGRESS_ROUNDS (default
# 5), BENCH_PROGRESS_DIR where the trees go (default /dev/shm where that is a
# tmpfs, else BENCH_DIR, else /tmp).
#
# Run: bench/progress_bench.sh   (after cmake --build --preset linux; also
# the part "progress" of scripts/bench.sh)
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
files=${BENCH_FILES:-200000}
rounds=${BENCH_PROGRESS_ROUNDS:-5}
build=build/linux
dir=${BENCH_PROGRESS_DIR:-}
if [ -z "$dir" ]; then
    dir=${BENCH_DIR:-/tmp}
    [ "$(df --output=fstype /dev/shm 2>/dev/null | tail -1)" != tmpfs ] || dir=/dev/shm
fi
work=$(mktemp -d "$dir/progress-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
package="$work/package"
install="$work/install"

echo "== measuring the package (space check, progress total): $files files of 64 bytes in" \
    "400 folders, $rounds rounds, trees on $(df --output=fstype "$dir" | tail -1) ($dir)," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)"
# 20 x 20 folders, the files spread over them.
"$build/bench/make_tree" "$package" 20 2 $(((files + 399) / 400)) 64 1 1700000000
cp "$build/src/update/Update.exe" "$package/Update.exe"
count=$(find "$package" -type f ! -name Update.exe | wc -l)
mkdir -p "$work/bin" "$work/times"
printf '#!/bin/sh\n' >"$work/bin/notepad.exe"
chmod +x "$work/bin/notepad.exe"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n@="%s"\r\n' \
    "$install" >"$work/registry.reg"

microseconds() { # an EPOCHREALTIME value
    local whole=${1%.*} fraction=${1#*.}
    echo $((whole * 1000000 + 10#$fraction))
}

median() { # numbers, one a line
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2];
        else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One run into a fresh installation; its seconds go to times/KIND when it
# installed every file (the box or the exit code says so, and the count).
time_run() { # KIND: interactive or silent
    local t0 t1 status=0 arguments=
    [ "$1" = silent ] && arguments=/S
    rm -rf "$install"
    mkdir "$install"
    printf 'Brenvolt 1.00\n' >"$install/BV.EXE"
    t0=$EPOCHREALTIME
    (cd "$package" && UPDATE_REGISTRY_FILE="$work/registry.reg" PATH="$work/bin:$PATH" \
        ./Update.exe $arguments 2>"$work/stderr") || status=$?
    t1=$EPOCHREALTIME
    if [ "$status" != 0 ] || { [ "$1" = interactive ] &&
        ! tail -c 200 "$work/stderr" | grep -q 'korrekt installiert'; }; then
        echo "   $1: not installed (exit $status), time not counted"
        return 0
    fi
    if [ "$(find "$install" -type f ! -name BV.EXE | wc -l)" != "$count" ]; then
        echo "   $1: not every file installed, time not counted"
        return 0
    fi
    awk -v us=$(($(microseconds "$t1") - $(microseconds "$t0"))) \
        'BEGIN { printf "%.3f\n", us / 1e6 }' | tee -a "$work/times/$1"
}

for ((round = 1; round <= rounds; round++)); do
    if ((round % 2)); then order="interactive silent"; else order="silent interactive"; fi
    line="round $round:"
    for kind in $order; do
        line+=" $kind $(time_run "$kind" | tail -1) s,"
    done
    walk=$("$build/bench/measure_package" "$package" 3 | sed -n 's/.*walk \([0-9.]*\) ms.*/\1/p')
    awk -v ms="$walk" 'BEGIN { printf "%.3f\n", ms / 1e3 }' >>"$work/times/walk"
    echo "$line walk alone $(tail -1 "$work/times/walk") s"
done

walk=$(median <"$work/times/walk")
interactive=$(median <"$work/times/interactive" 2>/dev/null || echo -)
silent=$(median <"$work/times/silent" 2>/dev/null || echo -)
printf '%-44s %s s\n' "the walk alone (MeasurePackage)" "$walk" \
    "interactive run (measures, window)" "$interactive" \
    "silent run /S (measures, no window)" "$silent"
if [ "$interactive" = - ] || [ "$silent" = - ]; then
    echo "ratios: no figures"
    exit 0
fi
awk -v w="$walk" -v i="$interactive" -v s="$silent" 'BEGIN {
    printf "%-44s %.3f (%.1f %% of the silent run)\n", "walk / silent (the measuring)", w / s, 100 * w / s
    printf "%-44s %.3f\n", "interactive / silent", i / s
    printf "%-44s %.3f s\n", "interactive - silent", i - s }'
echo "(every run measures the package once, for the space check and the progress total: the" \
    "walk alone is its cost; interactive - silent holds the window's updates, the box and the notes)"
