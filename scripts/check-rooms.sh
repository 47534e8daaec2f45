#!/usr/bin/env bash
# Lists every #include of a src/update file that crosses from one room of
# src/update to another, and fails if one runs up the order: a room may use
# the rooms after it in `order`, never one before it. A header name found in
# two rooms fails too, as an include would not say which room it reaches.
set -euo pipefail
cd "$(dirname "$0")/../src/update"

order=(run transaction package filesystem support)

declare -A rank room_of
for i in "${!order[@]}"; do
    rank[${order[$i]}]=$i
done
for dir in */; do
    dir=${dir%/}
    if [ -z "${rank[$dir]:-}" ]; then
        echo "src/update/$dir is no room of the order (${order[*]})" >&2
        exit 1
    fi
done

# Each header of a room, by its name.
for r in "${order[@]}"; do
    while IFS= read -r header; do
        name=${header##*/}
        if [ -n "${room_of[$name]:-}" ]; then
            echo "src/update: $name is in ${room_of[$name]} and in $r" >&2
            exit 1
        fi
        room_of[$name]=$r
    done < <(find "$r" -type f -name '*.h')
done

crossings=0
up=0
for r in "${order[@]}"; do
    while IFS= read -r file; do
        while IFS=: read -r line header; do
            # A path with a folder is one of the file's own room (../version.h)
            # or of src/util or src/platform.
            case $header in */*) continue ;; esac
            to=${room_of[$header]:-}
            if [ -z "$to" ] || [ "$to" = "$r" ]; then
                continue
            fi
            crossings=$((crossings + 1))
            mark=
            if [ "${rank[$to]}" -lt "${rank[$r]}" ]; then
                mark=UP
                up=$((up + 1))
            fi
            printf '%-3s %-12s -> %-12s %s:%s %s\n' "$mark" "$r" "$to" "$file" "$line" "$header"
        done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
            sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
    done < <(find "$r" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' \) | sort)
done
echo "$crossings includes cross rooms (order: ${order[*]}); $up run up"
[ "$up" -eq 0 ]
