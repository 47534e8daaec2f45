#!/usr/bin/env bash
# Builds and runs every test: formatting, the Linux build, the sanitizer
# build, a bounded fuzzing run, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== formatting"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

for preset in linux sanitize; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

echo "== fuzz"
bash scripts/fuzz.sh 60

if [ -f scripts/test-windows.sh ]; then
    bash scripts/test-windows.sh
fi
