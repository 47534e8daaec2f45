#!/usr/bin/env bash
# Benchmarks, side by side on this machine:
#   1. the library (Google Benchmark): TextString's path building, Format and
#      SplitPath against std::string, TextTable::Lookup against
#      std::unordered_map, TextTable::Load against a bare read;
#   2. the copy on Linux: Update.exe against a bare safe copier of our own
#      (bench/safe_copy.cpp), the same followed by one flush of the file
#      system (durable as Update.exe is), rsync -a --whole-file and cp -r;
#   3. the copy under Wine, where this machine runs 32-bit Windows programs:
#      the Windows Update.exe against a bare CopyFileA + MoveFileExA loop
#      (bench/win_copy_loop.cpp) and Wine's xcopy /E /Y;
#   4. one large folder: the Linux Update.exe copying a fresh package of
#      1,000 and of 40,000 files of 1 KiB in one folder, the time per file
#      of each and their ratio (finding a name must not cost more in a
#      larger folder);
#   5. measuring the package (the space check, and the progress total): on
#      200,000 small files an interactive run and a silent one (both
#      measure) and the measuring walk alone (bench/progress_bench.sh);
#   6. the package check: Update.exe on trees A and B with a manifest
#      (.Update.sha256, made by update-manifest) against the same package
#      without one, and the hash rate of the build (update-manifest over B);
#      and the signed manifest: the program built with the test's keys
#      (UpdateSigned) on the package with the manifest signed, against
#      Update.exe (no keys) on the same package with the manifest only;
#   7. a scanner: Update.exe on tree A while a scanner program holds each
#      file written or renamed in the installation for 50 ms, beside the
#      same run without it.
#
# The copy runs on deterministic packages: (A) 10,000 files of 4 KiB in 100
# directories two levels deep, (B) 16 files of 32 MiB, (C) 3,000 files of
# 4 KiB in 10 directories and 4 files of 32 MiB (on Linux only); each "fresh" (an
# installation holding only the product's BV.EXE) and "overwrite" (an
# installation holding an older copy of the same names). A round runs each
# contender once on each case, the order of the contenders turning by
# one place from round to round; before each run the installation is made
# anew and everything is synced. A time counts only when the installation
# then equals the package (diff -r). The tables give medians and each
# contender's time divided by Update.exe's.
#
# Environment:
#   BENCH_ROUNDS        most rounds on Linux (default 5); fewer when another
#                       round would end after BENCH_COPY_SECONDS (default
#                       360), but never fewer than 3
#   BENCH_WINE_ROUNDS   the same under Wine (default 3; 1 under qemu),
#   BENCH_WINE_SECONDS  default 600
#   BENCH_WINE_QEMU=1   runs the Wine part where 32-bit code runs only
#                       through qemu (skipped there by default)
#   BENCH_DURABLE=1     adds "safe_copy --durable", which flushes each file
#                       and its directory, as a write-through rename does
#   BENCH_VARIANT=FILE  adds another Linux Update.exe (a changed build, say),
#                       run as the first one is
#   BENCH_DIR           where the trees go (default /tmp): the copy measures
#                       that file system
#   BENCH_FOLDER_ROUNDS runs of each one-folder package (default 3)
#   BENCH_FOLDER_DIR    where its trees go (default /dev/shm where that is a
#                       tmpfs, else BENCH_DIR)
#   BENCH_FILES, BENCH_PROGRESS_ROUNDS, BENCH_PROGRESS_DIR
#                       the package, rounds and place of part 5
#                       (bench/progress_bench.sh)
#   BENCH_MANIFEST_ROUNDS rounds of part 6 (default 3)
#   BENCH_PARTS         default "library copy folder wine progress manifest scanner"
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root_dir=$(pwd)
bin="$root_dir/build/linux"
winbin="$root_dir/build/windows"
started=$(date +%s)

declare -A file_count=([A]=10000 [B]=16 [C]=3004 [N]=0 [F1000]=1000 [F40000]=40000)
# The trees that the parts run on: all on Linux, A and B under Wine.
trees=(A B C)
declare -A labels=([update]="Update.exe" [manifest]="with manifest" [signed]="signed manifest"
    [variant]="variant" [safe]="safe_copy"
    [durable]="safe_copy --durable" [synced]="safe_copy + syncfs"
    [rsync]="rsync -a -W" [cp]="cp -r" [wcopy]="Update.exe" [wupdate]="to its box" [wloop]="CopyFileA loop"
    [wsynced]="loop + sync -f" [xcopy]="xcopy /E /Y")

# ------------------------------------------------------------------ timing

# The installation before a run: fresh (only BV.EXE) or the older copy.
reset_installation() { # TREE MODE
    rm -rf "$install"
    if [ "$2" = fresh ]; then
        cp -a "$work/fresh" "$install"
    else
        cp -a "$work/$1/old" "$install"
    fi
    sync
}

# True when the installation holds exactly the package's files (BV.EXE is
# the installation's own, Update.exe stays in the package).
installation_is_right() { # TREE
    diff -r -x Update.exe -x BV.EXE "$work/$1/package" "$install" >/dev/null 2>&1
}

median() { # numbers, one a line
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2];
        else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

microseconds() { # an EPOCHREALTIME reading
    local t=${1/./}
    echo $((10#$t))
}

# measure_round ROUND CONTENDER...: one round of all four cases; each case
# runs every contender once, the order turning by one place from round to
# round. Each contender is a function "run_NAME TREE" that copies and
# returns false on failure; it may set box_time to the moment its copy was
# done. Seconds of the counted runs go to $work/times/TREE-MODE-NAME.
measure_round() {
    local round=$1
    shift
    local contenders=("$@") n=$# tree mode i name t0 t1
    mkdir -p "$work/times"
    for tree in "${trees[@]}"; do
        for mode in fresh overwrite; do
            for ((i = 0; i < n; i++)); do
                name=${contenders[$(((round + i) % n))]}
                reset_installation "$tree" "$mode"
                box_time=
                t0=$EPOCHREALTIME
                if ! "run_$name" "$tree"; then
                    echo "   $tree $mode ${labels[$name]}, round $((round + 1)): the copy failed," \
                        "time not counted"
                    continue
                fi
                t1=$EPOCHREALTIME
                [ -z "$box_time" ] || t1=$box_time
                if ! installation_is_right "$tree"; then
                    echo "   $tree $mode ${labels[$name]}, round $((round + 1)): the copy differs," \
                        "time not counted"
                    continue
                fi
                awk -v us=$(($(microseconds "$t1") - $(microseconds "$t0"))) \
                    'BEGIN { printf "%.6f\n", us / 1e6 }' >>"$work/times/$tree-$mode-$name"
            done
        done
    done
}

# measure LEAST MOST BUDGET CONTENDER...: rounds until MOST are done, or
# until another one would end more than BUDGET seconds after the first
# began; at least LEAST.
measure() {
    local least=$1 most=$2 budget=$3 begin now round
    shift 3
    begin=$(date +%s)
    for ((round = 0; round < most; round++)); do
        now=$(date +%s)
        if ((round >= least && now - begin + (now - begin) / round > budget)); then
            echo "   stopped after $round rounds: another would pass ${budget} s"
            break
        fi
        echo "   round $((round + 1)) ($((now - started)) s since the start)"
        measure_round "$round" "$@"
    done
}

# table TITLE REFERENCE CONTENDER...: medians, and each one's ratio to the
# reference's.
table() {
    local title=$1 reference=$2
    shift 2
    local names=("$@") tree mode ref name file value runs
    echo
    echo "$title"
    printf '%-12s' "case"
    for name in "${names[@]}"; do printf '%24s' "${labels[$name]}"; done
    echo
    for tree in "${trees[@]}"; do
        for mode in fresh overwrite; do
            ref=$(median <"$work/times/$tree-$mode-$reference" 2>/dev/null || echo -)
            printf '%-12s' "$tree $mode"
            for name in "${names[@]}"; do
                file="$work/times/$tree-$mode-$name"
                value=$(median <"$file" 2>/dev/null || echo -)
                runs=$(wc -l <"$file" 2>/dev/null || echo 0)
                if [ "$value" = - ]; then
                    printf '%24s' "no run counted"
                elif [ "$ref" = - ]; then
                    printf '%24s' "$(printf '%.3f s (%d)' "$value" "$runs")"
                else
                    printf '%24s' "$(awk -v v="$value" -v r="$ref" -v n="$runs" \
                        'BEGIN { printf "%.3f s %5.2fx (%d)", v, v / r, n }')"
                fi
            done
            echo
        done
    done
    echo "(median seconds, that time / ${labels[$reference]}'s, (runs counted))"
}

# goals SUBJECT LIMIT NAME: per case, SUBJECT's median / NAME's, met when at
# most LIMIT (below it, for a LIMIT of 1).
goals() {
    local subject=$1 limit=$2 name=$3 tree mode a b
    for tree in "${trees[@]}"; do
        for mode in fresh overwrite; do
            a=$(median <"$work/times/$tree-$mode-$subject" 2>/dev/null || echo -)
            b=$(median <"$work/times/$tree-$mode-$name" 2>/dev/null || echo -)
            if [ "$a" = - ] || [ "$b" = - ]; then
                printf '   %-12s %s / %s: no figures\n' "$tree $mode" "${labels[$subject]}" \
                    "${labels[$name]}"
                continue
            fi
            awk -v a="$a" -v b="$b" -v l="$limit" -v c="$tree $mode" -v s="${labels[$subject]}" \
                -v n="${labels[$name]}" 'BEGIN {
                    r = a / b; met = (l == 1) ? (r < 1) : (r <= l)
                    printf "   %-12s %s / %s = %.3f (goal %s%g): %s\n", c, s, n, r,
                        (l == 1) ? "<" : "<=", l, met ? "met" : "MISSED" }'
        done
    done
}

# ------------------------------------------------------------------ Linux

run_update() { update_in "$work/$1/package" "$1"; }
run_variant() { update_in "$work/$1/varpackage" "$1"; }
run_manifest() { update_in "$work/$1/manpackage" "$1"; }
run_signed() { update_in "$work/$1/sigpackage" "$1"; }
update_in() { # PACKAGE TREE
    local box
    box=$(cd "$1" && UPDATE_REGISTRY_FILE="$work/registry.reg" \
        PATH="$work/empty-path" ./Update.exe 2>&1 >/dev/null) || return 1
    # A run of over a second shows the progress window first (a line on
    # stderr on the stand-in); the box ends the output.
    [[ $box == "Info: Es wurden ${file_count[$2]} Dateien kopiert."* ||
        $box == *$'\n'"Info: Es wurden ${file_count[$2]} Dateien kopiert."* ]] || {
        echo "   Update.exe said: ${box: -300}"
        return 1
    }
}
run_safe() { "$bin/bench/safe_copy" "$work/$1/package" "$install" >/dev/null; }
run_durable() { "$bin/bench/safe_copy" --durable "$work/$1/package" "$install" >/dev/null; }
# Durable as Update.exe is, with one flush of the file system at the end
# (sync -f: syncfs), which shows what the disk itself takes.
run_synced() { run_safe "$1" && sync -f "$install"; }
run_rsync() { rsync -a --whole-file --exclude=/Update.exe "$work/$1/package/" "$install/"; }
run_cp() {
    local entries=() entry
    for entry in "$work/$1/package"/*; do
        [ "${entry##*/}" = Update.exe ] || entries+=("$entry")
    done
    cp -r -- "${entries[@]}" "$install/"
}

linux_part() {
    cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="$install"
REG
    local contenders=(update) tree
    if [ -n "${BENCH_VARIANT:-}" ]; then
        contenders+=(variant)
        # The package again with the variant as its Update.exe; the other
        # files are links to the package's, which nothing writes.
        for tree in "${trees[@]}"; do
            cp -al "$work/$tree/package" "$work/$tree/varpackage"
            rm "$work/$tree/varpackage/Update.exe"
            cp "$BENCH_VARIANT" "$work/$tree/varpackage/Update.exe"
        done
    fi
    contenders+=(safe synced)
    [ "${BENCH_DURABLE:-0}" = 0 ] || contenders+=(durable)
    contenders+=(rsync cp)
    local most=${BENCH_ROUNDS:-5} budget=${BENCH_COPY_SECONDS:-360}
    echo
    echo "== copy on Linux: at most $most rounds, stopping after about $budget s (but not before 3)"
    measure 3 "$most" "$budget" "${contenders[@]}"
    table "== copy on Linux" update "${contenders[@]}"
    [ -z "${BENCH_VARIANT:-}" ] || echo "variant: $BENCH_VARIANT"
    echo "goals:"
    goals update 1.2 safe
    goals update 1.1 synced
    goals update 1 rsync
    echo
    echo "== system calls of an update run over 2,000 small files (overwrite; strace -c -f)"
    BENCH_FILES=2000 BENCH_TIMING=0 BENCH_DIR="${BENCH_DIR:-/tmp}" \
        bench/update_run_bench.sh "$bin/src/update/Update.exe" | grep -E '^(calls per file|goal)'
}

# ------------------------------------------------------------------ manifest

# The package of each tree again, its files linked, with a manifest; both
# run in turns. The hash rate is update-manifest's over B (512 MiB from the
# page cache), through the same Sha256 as Update.exe's check.
manifest_part() {
    local tree rounds=${BENCH_MANIFEST_ROUNDS:-3} t0 t1 sha
    for tree in "${trees[@]}"; do
        rm -rf "$work/$tree/manpackage"
        cp -al "$work/$tree/package" "$work/$tree/manpackage"
        rm "$work/$tree/manpackage/Update.exe"
        cp "$bin/src/update/Update.exe" "$work/$tree/manpackage/Update.exe"
        "$bin/tools/manifest/update-manifest" make "$work/$tree/manpackage" 2>/dev/null
        # The same files, the program with the test's keys, the manifest
        # signed with the first of them.
        rm -rf "$work/$tree/sigpackage"
        cp -al "$work/$tree/package" "$work/$tree/sigpackage"
        rm "$work/$tree/sigpackage/Update.exe"
        cp "$bin/tests/UpdateSigned.exe" "$work/$tree/sigpackage/Update.exe"
        "$bin/tools/manifest/update-manifest" make "$work/$tree/sigpackage" 2>/dev/null
        "$bin/tools/manifest/update-manifest" sign --key "$bin/tests/keys/first.pem" \
            "$work/$tree/sigpackage" 2>/dev/null
    done
    cat "$work/B/manpackage/"* >/dev/null
    t0=$EPOCHREALTIME
    "$bin/tools/manifest/update-manifest" check "$work/B/manpackage" 2>/dev/null
    t1=$EPOCHREALTIME
    grep -qw sha_ni /proc/cpuinfo && sha="this CPU has SHA extensions (sha_ni)" ||
        sha="this CPU has no SHA extensions"
    echo
    echo "== package check: Update.exe with a manifest against without, $rounds rounds"
    awk -v us=$(($(microseconds "$t1") - $(microseconds "$t0"))) -v s="$sha" 'BEGIN {
        printf "   hash rate of this build: %.0f MB/s (update-manifest check over B, 512 MiB; %s)\n",
            (16 * 32 * 1048576) / us, s }'
    rm -rf "$work/times"
    cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="$install"
REG
    measure "$rounds" "$rounds" 100000 update manifest signed
    table "== package check on Linux" update update manifest signed
    echo "goals:"
    goals manifest 1.1 update
    goals signed 1.02 manifest
    signature_alone
}

# What the signature adds to a run, measured alone, as whole runs on a
# shared machine vary by more than it: update-manifest verify (a process
# that reads the manifest once, checks its signature against the key as
# Update.exe does, and parses it, which a run does anyway) on each tree's
# signed package, the median of 21 runs, against the median run of the
# manifest alone (above): an upper bound of the signature's share.
signature_alone() {
    local tree mode i t0 t1 run
    echo "== the signature check alone: update-manifest verify, median of 21 runs"
    for tree in "${trees[@]}"; do
        for ((i = 0; i < 21; i++)); do
            t0=$EPOCHREALTIME
            "$bin/tools/manifest/update-manifest" verify --key "$bin/tests/keys/first.pub" \
                "$work/$tree/sigpackage" 2>/dev/null || echo "   verify failed on $tree" >&2
            t1=$EPOCHREALTIME
            echo $(($(microseconds "$t1") - $(microseconds "$t0")))
        done | median >"$work/verify-$tree"
        for mode in fresh overwrite; do
            run=$(median <"$work/times/$tree-$mode-manifest")
            awk -v us="$(cat "$work/verify-$tree")" -v run="$run" -v c="$tree $mode" 'BEGIN {
                printf "   %-12s verify %.1f ms, run with manifest %.3f s: at most %.4fx (goal <=1.02): %s\n",
                    c, us / 1000, run, 1 + us / 1e6 / run, (1 + us / 1e6 / run <= 1.02) ? "met" : "MISSED" }'
        done
    done
}

# ------------------------------------------------------------------ scanner

# Tree A, fresh and overwrite, with a scanner (tests/update/end_to_end/scanner.cpp)
# holding each file written or renamed in the installation for 50 ms,
# without sharing, beside the same run without it; in turns.
run_scanned() {
    local scanner status
    "$bin/tests/update/end_to_end/scanner" "$install" 50 50 >"$work/scanner-ready" &
    scanner=$!
    for _ in $(seq 100); do [ -s "$work/scanner-ready" ] && break; sleep 0.05; done
    run_update "$1"
    status=$?
    kill "$scanner" 2>/dev/null
    wait "$scanner" 2>/dev/null
    return $status
}

scanner_part() {
    local rounds=${BENCH_SCANNER_ROUNDS:-3} round mode name t0 t1
    cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="$install"
REG
    rm -rf "$work/scan-times"
    mkdir -p "$work/scan-times"
    echo
    echo "== tree A with a scanner holding each file for 50 ms, $rounds rounds"
    for ((round = 0; round < rounds; round++)); do
        for mode in fresh overwrite; do
            for name in update scanned; do
                reset_installation A "$mode"
                t0=$EPOCHREALTIME
                if "run_$name" A && installation_is_right A; then
                    t1=$EPOCHREALTIME
                    awk -v us=$(($(microseconds "$t1") - $(microseconds "$t0"))) \
                        'BEGIN { printf "%.6f\n", us / 1e6 }' >>"$work/scan-times/$mode-$name"
                else
                    echo "   A $mode $name, round $((round + 1)): failed, not counted"
                fi
            done
        done
    done
    for mode in fresh overwrite; do
        awk -v m="$mode" -v a="$(median <"$work/scan-times/$mode-update")" \
            -v b="$(median <"$work/scan-times/$mode-scanned")" 'BEGIN {
                printf "   A %-10s without: %.3f s   with the scanner: %.3f s   (%.2fx)\n",
                    m, a, b, b / a }'
    done
}

# ------------------------------------------------------------------ one folder

# A fresh copy of F1000 and F40000, each several times; the median time per
# file of each, and the larger one's over the smaller one's. The trees go to
# $BENCH_FOLDER_DIR, by default /dev/shm where that is a tmpfs: on a disk,
# the syncs of each write-through rename take far longer than finding a name
# and would hide it.
folder_part() {
    local rounds=${BENCH_FOLDER_ROUNDS:-3} tree round t0 t1 count dir
    dir=${BENCH_FOLDER_DIR:-}
    if [ -z "$dir" ]; then
        dir=${BENCH_DIR:-/tmp}
        [ "$(df --output=fstype /dev/shm 2>/dev/null | tail -1)" != tmpfs ] || dir=/dev/shm
    fi
    local work install
    work=$(mktemp -d "$dir/brenvolt-folder-XXXXXX")
    install="$work/install"
    trap 'rm -rf "$work"' EXIT
    trap 'exit 130' INT TERM
    echo
    echo "== one folder: Update.exe on Linux, fresh copy, $rounds runs each, trees on" \
        "$(df --output=fstype "$dir" | tail -1)"
    mkdir -p "$work/fresh" "$work/empty-path"
    printf 'Brenvolt 1.00\n' >"$work/fresh/BV.EXE"
    for tree in F1000 F40000; do
        mkdir -p "$work/$tree"
        # 1767225600: 2026-01-01, as the other packages' files
        "$bin/bench/make_tree" "$work/$tree/package" 1 0 "${file_count[$tree]}" 1024 5 1767225600
        cp "$bin/src/update/Update.exe" "$work/$tree/package/Update.exe"
    done
    cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="$install"
REG
    mkdir -p "$work/times"
    for tree in F1000 F40000; do
        count=${file_count[$tree]}
        for ((round = 0; round < rounds; round++)); do
            reset_installation "$tree" fresh
            t0=$EPOCHREALTIME
            if ! run_update "$tree"; then
                echo "   $tree, run $((round + 1)): the copy failed, time not counted"
                continue
            fi
            t1=$EPOCHREALTIME
            if ! installation_is_right "$tree"; then
                echo "   $tree, run $((round + 1)): the copy differs, time not counted"
                continue
            fi
            awk -v us=$(($(microseconds "$t1") - $(microseconds "$t0"))) -v n="$count" \
                'BEGIN { printf "%.3f\n", us / n }' >>"$work/times/$tree-per-file"
        done
    done
    local small large
    small=$(median <"$work/times/F1000-per-file" 2>/dev/null || echo -)
    large=$(median <"$work/times/F40000-per-file" 2>/dev/null || echo -)
    printf '%-28s %s\n' "1,000 files in one folder" "${small} us per file" \
        "40,000 files in one folder" "${large} us per file"
    if [ "$small" = - ] || [ "$large" = - ]; then
        echo "goal: no figures"
    else
        awk -v a="$large" -v b="$small" 'BEGIN { r = a / b
            printf "goal: 40,000 / 1,000 per file = %.2f (goal <=1.5): %s\n", r,
                r <= 1.5 ? "met" : "MISSED" }'
    fi
    rm -rf "$work"
    trap - EXIT
}

# ------------------------------------------------------------------ Wine

windows_path() { # a Linux path as Wine's drive Z: shows it
    local path=${1//\//\\}
    echo "Z:$path"
}

# Every Wine program ends within the limit, its whole process group with it.
wine_call() { timeout --kill-after=10 "${BENCH_WINE_TIMEOUT:-1800}" wine "$@"; }

# The driver starts Update.exe, answers its box and reports; the copy is
# done when the box is up, so the time ends at the box's first line. The
# Notepad that the update then starts is the driver's to end, after the time.
run_wupdate() {
    local line ok=false
    while IFS= read -r line; do
        line=${line%$'\r'}
        if [[ $line == box1-text=* ]]; then
            box_time=$EPOCHREALTIME
            if [[ $line == "box1-text=Es wurden ${file_count[$1]} Dateien kopiert."* ]]; then
                ok=true
            else
                echo "   Update.exe said: ${line#box1-text=}"
            fi
        fi
    done < <(wine_call "$winbin/tests/wine/update_driver.exe" --timeout 3600 \
        "$(windows_path "$work/$1/winpackage/Update.exe")" 2>/dev/null)
    $ok
}
run_wloop() {
    wine_call "$winbin/bench/win_copy_loop.exe" "$(windows_path "$work/$1/package")" \
        "$(windows_path "$install")" >/dev/null 2>&1
}
# The loop made durable as Update.exe is: one flush of the file system at
# the end, by the host (syncfs).
run_wsynced() { run_wloop "$1" && sync -f "$install"; }
run_xcopy() {
    wine_call xcopy /E /Y /Q "/EXCLUDE:$(windows_path "$work/xcopy-exclude.txt")" \
        "$(windows_path "$work/$1/package")" "$(windows_path "$install")\\" >/dev/null 2>&1
}

# The Wine part proper, on the route's Wine (inside the qemu namespace for
# that route): a private display, a throwaway prefix, one wineserver kept
# running (-p) so that no run pays for its start.
wine_inner() { # ROUTE
    local route=$1 display_fd display_number boot_start
    export WINEPREFIX="$work/wine-prefix" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" # no installers, no debugger
    # Wine takes its ANSI code page from the locale: 1252 for the program's texts.
    unset LANG LANGUAGE LC_CTYPE LC_MESSAGES
    export LC_ALL=C.UTF-8
    xvfb_pid=
    trap 'wineserver -k 2>/dev/null || true; [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT
    exec {display_fd}<> <(:)
    Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 30 display_number <&"$display_fd" || {
        echo "== copy under Wine: SKIPPED, Xvfb did not start"
        return 0
    }
    exec {display_fd}<&-
    export DISPLAY=":$display_number"
    mkdir -p "$WINEPREFIX"
    wineserver -p
    boot_start=$(date +%s)
    if ! timeout --kill-after=10 900 wineboot -i >/dev/null 2>&1 ||
        [ "$(wine_call "$winbin/bench/win_copy_loop.exe" --probe 2>/dev/null | tr -d '\r')" != ok ]; then
        echo "== copy under Wine: SKIPPED, Wine did not run the 32-bit programs (route $route)"
        return 0
    fi
    echo "   Wine prefix ready after $(($(date +%s) - boot_start)) s"
    wine_call reg add 'HKLM\SOFTWARE\Quorvane Software\Brenvolt\1.0' /ve \
        /d "$(windows_path "$install")" /f /reg:32 >/dev/null 2>&1

    # What Update.exe's time holds beside the copy: the driver's and its own
    # start, the registry, the probe and the message box. Timed on a package
    # with nothing to copy (after one run that lets Wine start its desktop,
    # three times before the rounds and three after), it is taken off, and
    # one bare process start (the loop's --probe), which every other
    # contender pays too, is put back.
    reset_installation N fresh
    run_wupdate N >/dev/null || true
    time_overhead
    echo "   Update.exe on an empty package: $(median_seconds null) s to its box;" \
        "a bare process start: $(median_seconds probe) s (before the rounds)"

    local least=3 most=${BENCH_WINE_ROUNDS:-3} budget=${BENCH_WINE_SECONDS:-600}
    if [ "$route" = qemu ]; then
        least=1
        most=${BENCH_WINE_ROUNDS:-1}
        echo "   route qemu: every 32-bit instruction is emulated; these times show the route," \
            "not what Wine does on an x86 machine"
    fi
    echo "== copy under Wine: at most $most rounds, stopping after about $budget s (but not" \
        "before $least)"
    measure "$least" "$most" "$budget" wupdate wloop wsynced xcopy
    time_overhead
    local null probe file
    null=$(median_seconds null)
    probe=$(median_seconds probe)
    if [ "$null" = - ] || [ "$probe" = - ]; then
        echo "== copy under Wine: no figures, Update.exe or the loop did not run on an empty package"
        return 0
    fi
    for file in "$work"/times/*-wupdate; do
        awk -v n="$null" -v p="$probe" '{ printf "%.6f\n", $1 - n + p }' "$file" \
            >"${file%-wupdate}-wcopy"
    done
    table "== copy under Wine (route $route)" wcopy wcopy wupdate wloop wsynced xcopy
    echo "Update.exe: its time to the box less that on an empty package ($null s, median of" \
        "$(wc -l <"$work/null") runs), plus one bare process start ($probe s); \"to its box\":" \
        "as measured"
    echo "goals:"
    goals wcopy 1.1 wloop
    goals wcopy 1.3 wsynced
    goals wcopy 1 xcopy
}

# Three runs of Update.exe on the empty package, to its box, and three bare
# process starts; microseconds to $work/null and $work/probe.
time_overhead() {
    local i t0
    for i in 1 2 3; do
        reset_installation N fresh
        box_time=
        t0=$EPOCHREALTIME
        if run_wupdate N; then
            echo "$(($(microseconds "$box_time") - $(microseconds "$t0")))" >>"$work/null"
        fi
        t0=$EPOCHREALTIME
        if wine_call "$winbin/bench/win_copy_loop.exe" --probe >/dev/null 2>&1; then
            echo "$(($(microseconds "$EPOCHREALTIME") - $(microseconds "$t0")))" >>"$work/probe"
        fi
    done
}

median_seconds() { # NAME: the median of $work/NAME, in seconds
    awk '{ printf "%.6f\n", $1 / 1e6 }' "$work/$1" 2>/dev/null | median
}

wine_part() {
    local tool missing=()
    for tool in wine wineserver wineboot Xvfb i686-w64-mingw32-g++-posix timeout; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== copy under Wine: SKIPPED, not installed: ${missing[*]} (scripts/install-deps.sh)"
        return 0
    fi
    # The Windows Update.exe is a 32-bit program. Where the Wine scripts know
    # routes (native, or qemu-i386 in a private namespace), take theirs.
    local route=native wine_route=native wine_route_reason=
    if [ -f scripts/wine-route.sh ]; then
        # shellcheck source=/dev/null
        source scripts/wine-route.sh
        wine_route_choose || true
        route=$wine_route
        if [ "$route" != native ] && [ "$route" != qemu ]; then
            echo "== copy under Wine: SKIPPED, $wine_route_reason"
            return 0
        fi
        if [ "$route" = qemu ] && [ "${BENCH_WINE_QEMU:-0}" = 0 ]; then
            echo "== copy under Wine: SKIPPED, this machine runs 32-bit code only through qemu," \
                "whose emulation the times would show (a round takes minutes);" \
                "BENCH_WINE_QEMU=1 runs it anyway"
            return 0
        fi
    elif [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "== copy under Wine: SKIPPED, this machine cannot run 32-bit programs" \
            "(/usr/lib/wine/wine: $(/usr/lib/wine/wine --version 2>&1 | tail -1 | sed 's/.*: //'))"
        return 0
    fi

    echo "== copy under Wine: building (preset windows), route $route"
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target Update update_driver win_copy_loop >/dev/null
    echo
    bench/win32_calls.sh "$winbin/src/update/Update.exe" ||
        echo "== Win32 calls: not counted (bench/win32_calls.sh failed)"
    echo
    local trees=(A B)
    # The packages again, with the Windows Update.exe; the other files are
    # links to the Linux packages' files, which nothing writes.
    for tree in A B; do
        rm -rf "$work/$tree/winpackage"
        cp -al "$work/$tree/package" "$work/$tree/winpackage"
        rm "$work/$tree/winpackage/Update.exe"
        cp "$winbin/src/update/Update.exe" "$work/$tree/winpackage/Update.exe"
    done
    # N: a package with nothing to copy but Update.exe itself.
    mkdir -p "$work/N/package" "$work/N/winpackage"
    cp "$winbin/src/update/Update.exe" "$work/N/winpackage/Update.exe"
    printf '\\Update.exe\r\n' >"$work/xcopy-exclude.txt"
    if [ "$route" = qemu ]; then
        wine_route_qemu_run bash "$root_dir/scripts/bench.sh" --wine-part qemu "$work" ||
            echo "== copy under Wine: the qemu namespace ended with status $?"
    else
        (wine_inner native)
    fi
}

# ------------------------------------------------------------------ the run

# Inside the qemu namespace: only the Wine part, on the caller's trees.
if [ "${1:-}" = --wine-part ]; then # ROUTE WORK
    work=$3
    install="$work/install"
    trees=(A B)
    wine_inner "$2"
    exit 0
fi

# What the benchmark needs beyond a base system: the build tools, Google
# Benchmark and rsync (also listed in scripts/install-deps.sh).
needed=(cmake ninja-build g++ libbenchmark-dev rsync diffutils)
missing=()
for p in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "bench: missing packages ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    echo "== installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=900 update -q >/dev/null
    apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}" >/dev/null
fi

parts=" ${BENCH_PARTS:-library copy folder wine progress manifest scanner} "
echo "== building (preset linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux --target Update UpdateSigned update-manifest safe_copy make_tree \
    measure_package util_bench scanner >/dev/null
echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), Linux $(uname -r)," \
    "trees on $(df -T "${BENCH_DIR:-/tmp}" | awk 'NR == 2 { print $2 }')"

if [[ $parts == *" library "* ]]; then
    echo
    echo "== library (Google Benchmark, medians of 5 repetitions)"
    BENCH_DIR="${BENCH_DIR:-/tmp}" "$bin/bench/util_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
        2> >(grep -v 'Library was built as DEBUG' >&2)
fi

if [[ $parts == *" copy "* || $parts == *" wine "* || $parts == *" manifest "* ||
    $parts == *" scanner "* ]]; then
    work=$(mktemp -d "${BENCH_DIR:-/tmp}/brenvolt-bench-XXXXXX")
    install="$work/install"
    trap 'rm -rf "$work"' EXIT
    trap 'exit 130' INT TERM

    echo
    echo "== making the trees in $work"
    new_time=1767225600 # 2026-01-01: the package's files
    old_time=1735689600 # 2025-01-01: the installed older copy
    mkdir -p "$work/A" "$work/B" "$work/C" "$work/fresh" "$work/empty-path"
    # make_tree DIR FANOUT DEPTH FILES-PER-LEAF SIZE SEED MTIME
    "$bin/bench/make_tree" "$work/A/package" 10 2 100 4096 1 $new_time
    "$bin/bench/make_tree" "$work/A/old" 10 2 100 4096 2 $old_time
    "$bin/bench/make_tree" "$work/B/package" 1 0 16 $((32 << 20)) 3 $new_time
    "$bin/bench/make_tree" "$work/B/old" 1 0 16 $((32 << 20)) 4 $old_time
    # C: the small files of A and the large ones of B in one package
    "$bin/bench/make_tree" "$work/C/package" 10 1 300 4096 5 $new_time
    "$bin/bench/make_tree" "$work/C/package" 1 0 4 $((32 << 20)) 6 $new_time
    "$bin/bench/make_tree" "$work/C/old" 10 1 300 4096 7 $old_time
    "$bin/bench/make_tree" "$work/C/old" 1 0 4 $((32 << 20)) 8 $old_time
    for tree in "${trees[@]}"; do
        printf 'Brenvolt 1.00\n' >"$work/$tree/old/BV.EXE"
        cp "$bin/src/update/Update.exe" "$work/$tree/package/Update.exe"
    done
    printf 'Brenvolt 1.00\n' >"$work/fresh/BV.EXE"

    [[ $parts != *" copy "* ]] || linux_part
    [[ $parts != *" manifest "* ]] || manifest_part
    [[ $parts != *" scanner "* ]] || scanner_part
    if [[ $parts == *" wine "* ]]; then
        echo
        wine_part
    fi
    rm -rf "$work"
    trap - EXIT
fi

[[ $parts != *" folder "* ]] || folder_part

if [[ $parts == *" progress "* ]]; then
    echo
    bench/progress_bench.sh
fi

echo
echo "== bench.sh took $(($(date +%s) - started)) s"
