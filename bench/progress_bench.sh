#!/usr/bin/env bash
# What measuring the package for the progress window costs: on a package of
# many small files (BENCH_FILES, default 200,000, in 400 folders) the walk
# alone, and a whole interactive run (which measures) side by side with a
# silent one (/S, which measures nothing), each copying into a fresh
# installation. BENCH_DIR picks the file system (default: /tmp); the runs
# use hyperfine when it is there.
#
# Run: bench/progress_bench.sh   (after cmake --build --preset linux)
set -euo pipefail
cd "$(dirname "$0")/.."
files=${BENCH_FILES:-200000}
build=build/linux
work=$(mktemp -d "${BENCH_DIR:-/tmp}/progress-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# 20 x 20 folders, files spread over them, 64 bytes each.
"$build/bench/make_tree" "$work/package" 20 2 $(((files + 399) / 400)) 64 1 1700000000
cp "$build/src/update/Update.exe" "$work/package/Update.exe"
mkdir -p "$work/bin"
printf '#!/bin/sh\n' >"$work/bin/notepad.exe"
chmod +x "$work/bin/notepad.exe"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n@="%s"\r\n' \
    "$work/install" >"$work/registry.reg"
echo "package: $(find "$work/package" -type f | wc -l) files"

echo "== the walk alone"
"$build/bench/measure_package" "$work/package" 5

fresh="rm -rf '$work/install' && mkdir '$work/install' && echo product >'$work/install/BV.EXE'"
run="cd '$work/package' && UPDATE_REGISTRY_FILE='$work/registry.reg' PATH='$work/bin':\$PATH ./Update.exe"
echo "== whole runs: interactive (measures) and silent (measures nothing)"
if command -v hyperfine >/dev/null; then
    hyperfine --runs 3 --prepare "$fresh" -n interactive "$run 2>/dev/null" -n silent "$run /S"
else
    for kind in interactive silent; do
        arguments=$([ $kind = silent ] && echo /S || true)
        for round in 1 2 3; do
            sh -c "$fresh"
            start=$(date +%s.%N)
            sh -c "$run $arguments 2>/dev/null" || true
            echo "$kind round $round: $(echo "$(date +%s.%N) - $start" | bc) s"
        done
    done
fi
