#!/usr/bin/env bash
# System calls and time of one whole update run over a tree of many small
# files, side by side with `cp -r` over the same tree.
#
# Run: bench/update_run_bench.sh [Update.exe] [files]
#   Update.exe  the built program (default build/linux/src/update/Update.exe)
#   files       how many small files the package holds (default 3000)
# BENCH_DIR picks the file system (default: the temporary directory). Needs
# strace; the timing needs hyperfine.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/linux/src/update/Update.exe}")
files=${2:-3000}
per_directory=100

work=$(mktemp -d "${BENCH_DIR:-/tmp}/update-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
package="$work/package"
install="$work/install"
mkdir -p "$package" "$install" "$work/bin"
for ((d = 0; d * per_directory < files; ++d)); do
    mkdir -p "$package/dir$d"
    for ((f = d * per_directory; f < files && f < (d + 1) * per_directory; ++f)); do
        printf 'file %d of the update, some bytes of contents\n' "$f" >"$package/dir$d/file$f.dat"
    done
done
cp "$program" "$package/Update.exe"
printf 'product\n' >"$install/BV.EXE"
printf '#!/bin/sh\n' >"$work/bin/notepad.exe"
chmod +x "$work/bin/notepad.exe"
cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="${install}"
REG

# One update run, from the package folder as a user starts it; the
# arguments go before the program (strace).
cat >"$work/run-update" <<SH
#!/bin/sh
cd '$package' && UPDATE_REGISTRY_FILE='$work/registry.reg' PATH='$work/bin':"\$PATH" exec "\$@" ./Update.exe 2>/dev/null
SH
chmod +x "$work/run-update"

# The first runs fill both targets; the counted ones overwrite every file,
# which is what an update does.
"$work/run-update"
cp -r "$package/." "$work/cp-target"
"$work/run-update" strace -f -c -o "$work/update.strace"
strace -f -c -o "$work/cp.strace" cp -r "$package/." "$work/cp-target"

total() { awk '$NF == "total" { print $4 }' "$1"; }
echo "== system calls of one update run over $files files (strace -c -f)"
sed -n '1,25p' "$work/update.strace"
echo
echo "== system calls of cp -r over the same tree"
sed -n '1,12p' "$work/cp.strace"
echo
awk -v u="$(total "$work/update.strace")" -v c="$(total "$work/cp.strace")" -v n="$files" \
    'BEGIN { printf "calls per file: Update.exe %.1f, cp -r %.1f (the start of Notepad included)\n", u / n, c / n }'

if command -v hyperfine >/dev/null; then
    echo
    echo "== time, both in one run (the installation and cp's target already exist)"
    hyperfine --warmup 2 --runs 15 --style basic \
        "'$work/run-update'" \
        "cp -r '$package/.' '$work/cp-target'"
fi
