#!/usr/bin/env bash
# Benchmarks, side by side on this machine:
#   1. the library (Google Benchmark): TextString's path building, Format and
#      SplitPath against std::string, TextTable::Lookup against
#      std::unordered_map, TextTable::Load against a bare read;
#   2. the copy on Linux: Update.exe against a bare safe copier of our own
#      (bench/safe_copy.cpp), rsync -a --whole-file and cp -r;
#   3. the copy under Wine, where this machine runs 32-bit Windows programs:
#      the Windows Update.exe against a bare CopyFileA + MoveFileExA loop
#      (bench/win_copy_loop.cpp) and Wine's xcopy /E /Y.
#
# The copy runs on two deterministic packages: (A) 10,000 files of 4 KiB in
# 100 directories two levels deep, (B) 16 files of 32 MiB; each "fresh" (an
# installation holding only the product's BV.EXE) and "overwrite" (an
# installation holding an older copy of the same names). Every round runs
# each contender once, the order turning by one place from round to round;
# before each run the installation is made anew and everything is synced.
# A time counts only when the installation then equals the package
# (diff -r). The tables give medians and each contender's time divided by
# Update.exe's.
#
# Environment: BENCH_ROUNDS (most rounds, default 5; fewer when a round
# would end after BENCH_COPY_SECONDS, default 360, but never fewer than 3),
# BENCH_WINE_ROUNDS and BENCH_WINE_SECONDS (the same under Wine, 3 and 600),
# BENCH_DURABLE=1 (adds "safe_copy --durable", which flushes each file and
# its directory as a write-through rename does),
# BENCH_DIR (where the trees go, default /tmp; the copy's speed is that file
# system's), BENCH_PARTS (default "library copy wine").
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root_dir=$(pwd)
rounds=${BENCH_ROUNDS:-5}
wine_rounds=${BENCH_WINE_ROUNDS:-3}
copy_budget=${BENCH_COPY_SECONDS:-360}
wine_budget=${BENCH_WINE_SECONDS:-600}
parts=" ${BENCH_PARTS:-library copy wine} "
started=$(date +%s)

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

echo "== building (preset linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux --target Update safe_copy make_tree util_bench >/dev/null
bin="$root_dir/build/linux"

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(uname -r)," \
    "trees on $(df -T "${BENCH_DIR:-/tmp}" | awk 'NR == 2 { print $2 }')"

# ------------------------------------------------------------------ library

if [[ $parts == *" library "* ]]; then
    echo
    echo "== library (Google Benchmark, medians of 5 repetitions)"
    BENCH_DIR="${BENCH_DIR:-/tmp}" "$bin/bench/util_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 --benchmark_color=false \
        2> >(grep -v 'Library was built as DEBUG' >&2)
fi

[[ $parts == *" copy "* || $parts == *" wine "* ]] || exit 0

# ------------------------------------------------------------------ trees

work=$(mktemp -d "${BENCH_DIR:-/tmp}/brenvolt-bench-XXXXXX")
wine_cleanup=:
cleanup() {
    $wine_cleanup
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

new_time=1767225600 # 2026-01-01: the package's files
old_time=1735689600 # 2025-01-01: the installed older copy

echo
echo "== making the trees in $work"
mkdir -p "$work/A" "$work/B"
# make_tree DIR FANOUT DEPTH FILES-PER-LEAF SIZE SEED MTIME
"$bin/bench/make_tree" "$work/A/package" 10 2 100 4096 1 $new_time
"$bin/bench/make_tree" "$work/A/old" 10 2 100 4096 2 $old_time
"$bin/bench/make_tree" "$work/B/package" 1 0 16 $((32 << 20)) 3 $new_time
"$bin/bench/make_tree" "$work/B/old" 1 0 16 $((32 << 20)) 4 $old_time
mkdir -p "$work/fresh" "$work/empty-path"
for tree in A B; do
    for from in "$work/$tree/old" "$work/fresh"; do
        printf 'Brenvolt 1.00\n' >"$from/BV.EXE"
    done
    cp "$bin/src/update/Update.exe" "$work/$tree/package/Update.exe"
done
declare -A file_count=([A]=10000 [B]=16)
install="$work/install"

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
installation_is_right() { # PACKAGE INSTALLATION
    diff -r -x Update.exe -x BV.EXE "$1" "$2" >/dev/null 2>&1
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

# measure_round ROUND RESET CHECK CONTENDER...: one round of all four
# cases; each case runs every contender once, the order turning by one
# place from round to round. RESET makes the installation; each contender
# is a function "run_NAME TREE" that copies and returns false on failure;
# CHECK judges the result. Seconds of the counted runs go to
# $work/times/TREE-MODE-NAME.
measure_round() {
    local round=$1 reset=$2 check=$3
    shift 3
    local contenders=("$@") n=$#
    mkdir -p "$work/times"
    for tree in A B; do
        for mode in fresh overwrite; do
            for ((i = 0; i < n; i++)); do
                local name=${contenders[$(((round + i) % n))]}
                $reset "$tree" "$mode"
                local t0 t1
                box_time=
                t0=$EPOCHREALTIME
                if ! "run_$name" "$tree"; then
                    echo "   $tree $mode ${labels[$name]}, round $((round + 1)): the copy failed," \
                        "time not counted"
                    continue
                fi
                t1=$EPOCHREALTIME
                [ -z "$box_time" ] || t1=$box_time # a contender that knows when it was done
                if ! $check "$tree"; then
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

# measure MOST-ROUNDS BUDGET RESET CHECK CONTENDER...: rounds until MOST
# are done, or until another round would end after BUDGET seconds from now;
# at least three.
measure() {
    local most=$1 budget=$2
    shift 2
    local begin now round_time
    begin=$(date +%s)
    for ((round = 0; round < most; round++)); do
        now=$(date +%s)
        if ((round >= 3)); then
            round_time=$(((now - begin) / round))
            if ((now - begin + round_time > budget)); then
                echo "   stopped after $round rounds: another would pass the time budget"
                break
            fi
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
    local names=("$@")
    echo
    echo "$title"
    printf '%-12s' "case"
    for name in "${names[@]}"; do printf '%24s' "${labels[$name]}"; done
    echo
    for tree in A B; do
        for mode in fresh overwrite; do
            local ref
            ref=$(median <"$work/times/$tree-$mode-$reference" 2>/dev/null || echo -)
            printf '%-12s' "$tree $mode"
            for name in "${names[@]}"; do
                local file="$work/times/$tree-$mode-$name" value runs
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

# goals SUBJECT LIMIT NAME GOAL-TEXT: per case, SUBJECT's median / NAME's,
# met when at most LIMIT (below it, for a LIMIT of 1).
goals() {
    local subject=$1 limit=$2 name=$3
    for tree in A B; do
        for mode in fresh overwrite; do
            local a b
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
                    printf "   %-12s %s / %s = %.2f (goal %s%.1f): %s\n", c, s, n, r,
                        (l == 1) ? "<" : "<=", l, met ? "met" : "MISSED" }'
        done
    done
}

declare -A labels=([update]="Update.exe" [safe]="safe_copy" [durable]="safe_copy --durable"
    [rsync]="rsync -a -W" [cp]="cp -r"
    [wupdate]="Update.exe (Wine)" [wloop]="CopyFileA loop" [xcopy]="xcopy /E /Y")

# ------------------------------------------------------------------ Linux

run_update() {
    local box
    box=$(cd "$work/$1/package" && UPDATE_REGISTRY_FILE="$work/registry.reg" \
        PATH="$work/empty-path" ./Update.exe 2>&1 >/dev/null) || return 1
    [[ $box == "Info: Es wurden ${file_count[$1]} Dateien kopiert."* ]] || {
        echo "   Update.exe said: $box"
        return 1
    }
}
run_safe() { "$bin/bench/safe_copy" "$work/$1/package" "$install" >/dev/null; }
run_durable() { "$bin/bench/safe_copy" --durable "$work/$1/package" "$install" >/dev/null; }
run_rsync() { rsync -a --whole-file --exclude=/Update.exe "$work/$1/package/" "$install/"; }
run_cp() {
    local entries=()
    for entry in "$work/$1/package"/*; do
        [ "${entry##*/}" = Update.exe ] || entries+=("$entry")
    done
    cp -r -- "${entries[@]}" "$install/"
}
linux_is_right() { installation_is_right "$work/$1/package" "$install"; }

if [[ $parts == *" copy "* ]]; then
    cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="$install"
REG
    linux_contenders=(update safe rsync cp)
    [ "${BENCH_DURABLE:-0}" = 0 ] || linux_contenders=(update safe durable rsync cp)
    echo
    echo "== copy on Linux: up to $rounds rounds, ${copy_budget} s"
    measure "$rounds" "$copy_budget" reset_installation linux_is_right "${linux_contenders[@]}"
    table "== copy on Linux" update "${linux_contenders[@]}"
    echo "goals:"
    goals update 1.1 safe
    goals update 1 rsync
fi

# ------------------------------------------------------------------ Wine

wine_part() {
    local tool missing=()
    for tool in wine wineserver wineboot Xvfb i686-w64-mingw32-g++-posix; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== copy under Wine: SKIPPED, not installed: ${missing[*]} (scripts/install-deps.sh)"
        return
    fi
    # The Windows Update.exe is a 32-bit program: this needs a machine that
    # runs i386 code (natively, or through qemu-user and binfmt_misc).
    local loader=/usr/lib/wine/wine
    if [ -x "$loader" ] && ! "$loader" --version >/dev/null 2>&1; then
        echo "== copy under Wine: SKIPPED, this machine cannot run 32-bit programs" \
            "($loader: $("$loader" --version 2>&1 | tail -1 | sed 's/.*: //'))"
        return
    fi

    echo
    echo "== copy under Wine: building (preset windows)"
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target Update update_driver win_copy_loop >/dev/null
    local winbin="$root_dir/build/windows"

    # A throwaway prefix on a private display, with one wineserver kept
    # running (-p) so that no run pays for its start.
    export WINEPREFIX="$work/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine takes its ANSI code page from the locale: 1252 for the program's texts.
    unset LANG LANGUAGE LC_CTYPE LC_MESSAGES
    export LC_ALL=C.UTF-8
    local xvfb_pid display_fd display_number
    exec {display_fd}<> <(:)
    Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    wine_cleanup="wine_stop $xvfb_pid"
    read -r -t 30 display_number <&"$display_fd" || {
        echo "== copy under Wine: SKIPPED, Xvfb did not start"
        return
    }
    exec {display_fd}<&-
    export DISPLAY=":$display_number"
    mkdir -p "$WINEPREFIX"
    wineserver -p
    local boot_start=$EPOCHREALTIME
    if ! timeout 900 wineboot -i >/dev/null 2>&1 ||
        [ "$(timeout 300 wine "$winbin/bench/win_copy_loop.exe" --probe 2>/dev/null | tr -d '\r')" != ok ]; then
        echo "== copy under Wine: SKIPPED, Wine does not run the 32-bit programs here"
        return
    fi
    echo "   prefix ready in $(awk -v a="$boot_start" -v b="$EPOCHREALTIME" \
        'BEGIN { printf "%.0f", b - a }') s"
    local key='HKLM\SOFTWARE\Quorvane Software\Brenvolt\1.0'
    wine reg add "$key" /ve /d "Z:${install//\//\\}" /f /reg:32 >/dev/null 2>&1

    # The packages again, with the Windows Update.exe; the files are links
    # to the Linux packages' files, which nothing writes.
    for tree in A B; do
        rm -rf "$work/$tree/winpackage"
        cp -al "$work/$tree/package" "$work/$tree/winpackage"
        rm "$work/$tree/winpackage/Update.exe"
        cp "$winbin/src/update/Update.exe" "$work/$tree/winpackage/Update.exe"
    done
    printf '\\Update.exe\r\n' >"$work/xcopy-exclude.txt"

    echo "== copy under Wine: up to $wine_rounds rounds, ${wine_budget} s" \
        "(Update.exe is timed from its driver's start to its message box)"
    measure "$wine_rounds" "$wine_budget" reset_installation wine_is_right wupdate wloop xcopy
    table "== copy under Wine" wupdate wupdate wloop xcopy
    echo "goals:"
    goals wupdate 1.1 wloop
    goals wupdate 1 xcopy
}

wine_stop() { # XVFB_PID
    wineserver -k 2>/dev/null || true
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

windows_path() { # a Linux path as Wine's drive Z: shows it
    local path=${1//\//\\}
    echo "Z:$path"
}

# The driver starts Update.exe, answers its box and reports; the copy is
# done when the box is up, so the time ends at the box's first line. The
# Notepad that the update then starts is the driver's to end, after the time.
run_wupdate() {
    local t_box="" line ok=false
    while IFS= read -r line; do
        line=${line%$'\r'}
        case "$line" in
        box1-text=*)
            t_box=$EPOCHREALTIME
            [[ $line == "box1-text=Es wurden ${file_count[$1]} Dateien kopiert."* ]] && ok=true ||
                echo "   Update.exe said: ${line#box1-text=}"
            ;;
        esac
    done < <(wine "$root_dir/build/windows/tests/wine/update_driver.exe" --timeout 3600 \
        "$(windows_path "$work/$1/winpackage/Update.exe")" 2>/dev/null)
    $ok || return 1
    # measure takes the end time when this returns: hand it the box's time.
    box_time=$t_box
}
run_wloop() {
    wine "$root_dir/build/windows/bench/win_copy_loop.exe" "$(windows_path "$work/$1/package")" \
        "$(windows_path "$install")" >/dev/null 2>&1
}
run_xcopy() {
    wine xcopy /E /Y /Q "/EXCLUDE:$(windows_path "$work/xcopy-exclude.txt")" \
        "$(windows_path "$work/$1/package")" "$(windows_path "$install")\\" >/dev/null 2>&1
}
wine_is_right() { installation_is_right "$work/$1/package" "$install"; }

if [[ $parts == *" wine "* ]]; then
    echo
    wine_part
fi

echo
echo "== bench.sh took $(($(date +%s) - started)) s"
