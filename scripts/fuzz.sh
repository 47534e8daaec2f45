#!/usr/bin/env bash
# Builds the text table fuzz target with clang (ASan, UBSan, libFuzzer) and
# runs it for the given number of seconds (default 60), starting from seed
# tables that the texttable tool makes. Fails on any finding; the input
# that caused it is kept in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target text_table_fuzz texttable

work=build/fuzz/run
corpus="$work/corpus"
findings=build/fuzz/findings
rm -rf "$work"
mkdir -p "$corpus/seeds" "$findings"
tool=build/fuzz/tools/texttable/texttable

printf '' >"$work/none.txt"
printf '\n' >"$work/one_empty.txt"
printf 'Hallo\nWelt\n\n' >"$work/three.txt"
printf 'Zeile\\r\\nzwei\\0drei\n\\x7F\\xFF\nGr\xfc\xdfe\n%s\n' "$(printf 'x%.0s' {1..300})" \
    >"$work/escapes.txt"
for listing in "$work"/*.txt; do
    seed="$corpus/seeds/$(basename "$listing" .txt).tbl"
    "$tool" build "$listing" "$seed"
    # Cut short, to start the search among the malformed files too.
    head -c 20 "$seed" >"$seed.cut20"
done

# The fuzzer's own report (and the input) is its finding; exit status tells.
build/fuzz/fuzz/text_table_fuzz -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$corpus/seeds"
