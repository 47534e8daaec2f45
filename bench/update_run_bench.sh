#!/usr/bin/env bash
# System calls and time of a whole update run over a tree of many small
# files, side by side with `cp -r` over the same tree.
#
# Run: bench/update_run_bench.sh [Update.exe...]
#   Update.exe  one or more built programs, compared with each other (default
#               build/linux/src/update/Update.exe)
# BENCH_FILES is how many small files the package holds (default 3000),
# BENCH_DIR picks the file system (default: the temporary directory),
# BENCH_TIMING=0 leaves out the timing. Needs strace; the timing needs
# hyperfine. The first program's calls per file are held against the goal
# of at most 25.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- build/linux/src/update/Update.exe
files=${BENCH_FILES:-3000}
per_directory=100

work=$(mktemp -d "${BENCH_DIR:-/tmp}/update-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
mkdir -p "$tree" "$work/bin"
for ((d = 0; d * per_directory < files; ++d)); do
    mkdir -p "$tree/dir$d"
    for ((f = d * per_directory; f < files && f < (d + 1) * per_directory; ++f)); do
        printf 'file %d of the update, some bytes of contents\n' "$f" >"$tree/dir$d/file$f.dat"
    done
done
printf '#!/bin/sh\n' >"$work/bin/notepad.exe"
chmod +x "$work/bin/notepad.exe"

# Each program gets its own package (the tree and itself), installation and
# registry file, and a script that runs it from the package folder as a
# user starts it; the script's arguments go before the program (strace).
runs=()
for ((i = 1; i <= $#; ++i)); do
    program=$(realpath "${!i}")
    package="$work/package$i"
    install="$work/install$i"
    cp -r "$tree" "$package"
    cp "$program" "$package/Update.exe"
    mkdir -p "$install"
    printf 'product\n' >"$install/BV.EXE"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]\r\n@="%s"\r\n' \
        "$install" >"$work/registry$i.reg"
    cat >"$work/run$i" <<SH
#!/bin/sh
# $program
cd '$package' && UPDATE_REGISTRY_FILE='$work/registry$i.reg' PATH='$work/bin':"\$PATH" exec "\$@" ./Update.exe \$RUN_ARGUMENTS 2>/dev/null
SH
    chmod +x "$work/run$i"
    runs+=("$work/run$i")
done

total() { awk '$NF == "total" { print $4 }' "$1"; }
per_file() { awk -v calls="$(total "$1")" -v n="$files" 'BEGIN { printf "%.1f", calls / n }'; }

# The first runs fill the targets; the counted ones overwrite every file,
# which is what an update does.
cp -r "$tree/." "$work/cp-target"
strace -f -c -o "$work/cp.strace" cp -r "$tree/." "$work/cp-target"
for ((i = 1; i <= $#; ++i)); do
    "$work/run$i"
    "$work/run$i" strace -f -c -o "$work/update$i.strace"
    RUN_ARGUMENTS=/S "$work/run$i" strace -f -c -o "$work/silent$i.strace"
    echo "== system calls of one update run over $files files: ${!i}"
    sed -n '1,16p' "$work/update$i.strace"
    echo
done
echo "== system calls of cp -r over the same tree"
sed -n '1,12p' "$work/cp.strace"
echo
for ((i = 1; i <= $#; ++i)); do
    echo "calls per file: $(per_file "$work/update$i.strace") ${!i} (the start of Notepad included)"
    echo "calls per file: $(per_file "$work/silent$i.strace") ${!i} /S (no window, starts nothing; measures the package for the space check)"
done
echo "calls per file: $(per_file "$work/cp.strace") cp -r"
awk -v c="$(per_file "$work/update1.strace")" 'BEGIN {
    printf "goal: %.1f calls per copied file (goal <= 25): %s\n", c, c <= 25 ? "met" : "MISSED" }'

if [ "${BENCH_TIMING:-1}" != 0 ] && command -v hyperfine >/dev/null; then
    echo
    echo "== time, all in one run (the targets already exist)"
    # cp keeping modes and times does the work of CopyFileA.
    hyperfine --warmup 2 --runs "${BENCH_RUNS:-20}" --style basic "${runs[@]}" \
        "cp -r '$tree/.' '$work/cp-target'" \
        "cp -r --preserve=mode,timestamps '$tree/.' '$work/cp-target'"
fi
