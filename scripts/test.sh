#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs the packages, then configures, builds and
# tests the release preset and the asan preset (AddressSanitizer + UndefinedBehaviorSanitizer),
# runs the style checks and every fuzz target for 20 s, then cross-builds the Windows exe and runs
# its checks under Wine, and ends with the summary of each.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_dependencies.sh

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

for preset in release asan; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset" 2>&1 | tee "$logs/$preset.log"
done

echo "=== style: clang-format and clang-tidy"
lint_status=0
git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run -Werror || lint_status=1
scripts/tidy.sh || lint_status=1

echo "=== scripts/fuzz.sh (every fuzz target for 20 s)"
fuzz_status=0
scripts/fuzz.sh 20 || fuzz_status=1

echo "=== scripts/test_windows.sh"
windows_status=0
scripts/test_windows.sh 2>&1 | tee "$logs/windows.log" || windows_status=$?

echo
echo "=== summary"
for preset in release asan; do
    echo "$preset: $(grep -E 'tests passed|tests failed' "$logs/$preset.log" | tail -n 1)"
    sed -n '/^The following tests/,$p' "$logs/$preset.log"
done
windows_line="$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/windows.log" | tail -n 1)"
echo "windows (Wine): $windows_line"

# One closing line over all three: ctest's "N tests failed out of M" lines and the Wine count.
passed=0
failed=0
for preset in release asan; do
    read -r f m < <(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+)$/\1 \2/p' "$logs/$preset.log" | tail -n 1)
    passed=$((passed + m - f))
    failed=$((failed + f))
done
read -r wp wf < <(sed -nE 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' <<<"$windows_line")
passed=$((passed + ${wp:-0}))
failed=$((failed + ${wf:-1}))
[ "$lint_status" -eq 0 ] || echo "style: clang-format or clang-tidy found problems (see above)"
[ "$fuzz_status" -eq 0 ] || { echo "fuzz: a finding (see above)"; failed=$((failed + 1)); }
echo "total: $passed passed, $failed failed"
[ "$lint_status" -eq 0 ] || exit 1
[ "$fuzz_status" -eq 0 ] || exit 1
exit "$windows_status"
