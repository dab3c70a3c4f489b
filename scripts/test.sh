#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs the packages, then configures, builds and
# tests both presets (release, and asan = AddressSanitizer + UndefinedBehaviorSanitizer), and ends
# with ctest's summary of each.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_dependencies.sh

# Many tests mostly wait (time-outs, retry deadlines, child processes): run several at once.
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(( $(nproc) * 4 ))}"

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

for preset in release asan; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset" 2>&1 | tee "$logs/$preset.log"
done

echo
echo "=== summary"
for preset in release asan; do
    echo "$preset: $(grep -E 'tests passed|tests failed' "$logs/$preset.log" | tail -n 1)"
    sed -n '/^The following tests/,$p' "$logs/$preset.log"
done
