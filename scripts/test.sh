#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs the packages, then configures, builds and
# tests the release preset and the asan preset (AddressSanitizer + UndefinedBehaviorSanitizer),
# runs the style checks and every fuzz target for 20 s, then cross-builds the Windows exe and runs
# its checks under Wine, and ends with the summary of each, a table of the stages' wall times and
# results, and one line `total: N passed, M failed`. Each stage prints its wall time as it ends; a
# failing stage does not stop the later ones, and the exit status is non-zero when any failed.
#
# --quick: only the release preset (configure, build, ctest), for day-to-day work.
set -euo pipefail

usage() {
    echo "usage: scripts/test.sh [--quick]"
    echo "  --quick  only the release preset's build and tests (not the whole suite)"
}

quick=0
for arg in "$@"; do
    case "$arg" in
    --quick) quick=1 ;;
    --help | -h)
        usage
        exit 0
        ;;
    *)
        echo "scripts/test.sh: unknown argument: $arg" >&2
        usage >&2
        exit 2
        ;;
    esac
done

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# Every stage that ran, in order: its name, wall seconds and result.
stage_names=()
stage_seconds=()
stage_results=()

# run_stage NAME COMMAND...: runs the command, prints "stage NAME: S s, passed|failed" as it ends,
# records the stage for the closing table and returns the command's status.
run_stage() {
    local name="$1" start="$SECONDS" status=0 seconds result=passed
    shift
    "$@" || status=$?
    seconds=$((SECONDS - start))
    [ "$status" -eq 0 ] || result=failed
    stage_names+=("$name")
    stage_seconds+=("$seconds")
    stage_results+=("$result")
    echo "stage $name: $seconds s, $result"
    return "$status"
}

print_stage_table() {
    local i
    echo
    echo "=== stages"
    printf '%-14s %8s  %s\n' name seconds result
    for i in "${!stage_names[@]}"; do
        printf '%-14s %8s  %s\n' "${stage_names[$i]}" "${stage_seconds[$i]}" "${stage_results[$i]}"
    done
}

# shellcheck disable=SC2317 # called through run_stage
workflow() {
    cmake --workflow --preset "$1" 2>&1 | tee "$logs/$1.log"
}

# shellcheck disable=SC2317 # called through run_stage
style_checks() {
    local status=0
    git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run -Werror || status=1
    scripts/tidy.sh || status=1
    return "$status"
}

# shellcheck disable=SC2317 # called through run_stage
windows_checks() {
    scripts/test_windows.sh 2>&1 | tee "$logs/windows.log"
}

echo "=== scripts/install_dependencies.sh"
dependencies_status=0
run_stage dependencies scripts/install_dependencies.sh || dependencies_status=$?
if [ "$dependencies_status" -ne 0 ]; then
    print_stage_table
    exit "$dependencies_status"
fi

presets=(release asan)
[ "$quick" -eq 0 ] || presets=(release)

# The status of the first preset whose workflow failed (configure, build or ctest).
workflow_status=0
for preset in "${presets[@]}"; do
    echo "=== cmake --workflow --preset $preset"
    status=0
    run_stage "$preset" workflow "$preset" || status=$?
    [ "$workflow_status" -ne 0 ] || workflow_status=$status
done

lint_status=0
fuzz_status=0
windows_status=0
if [ "$quick" -eq 0 ]; then
    echo "=== style: clang-format and clang-tidy"
    run_stage style style_checks || lint_status=1

    echo "=== scripts/fuzz.sh (every fuzz target for 20 s)"
    run_stage fuzz scripts/fuzz.sh 20 || fuzz_status=1

    echo "=== scripts/test_windows.sh"
    run_stage windows windows_checks || windows_status=$?
fi

echo
echo "=== summary"
for preset in "${presets[@]}"; do
    result_line="$(grep -E 'tests passed|tests failed' "$logs/$preset.log" | tail -n 1 || true)"
    echo "$preset: ${result_line:-no ctest result (the workflow failed before its tests)}"
    sed -n '/^The following tests/,$p' "$logs/$preset.log"
done
if [ "$quick" -eq 0 ]; then
    windows_line="$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/windows.log" | tail -n 1 || true)"
    echo "windows (Wine): $windows_line"
fi

# One closing line over all of them: ctest's "N tests failed out of M" lines and the Wine count. A
# preset without a ctest line (its configure or build failed) counts as one failure.
passed=0
failed=0
for preset in "${presets[@]}"; do
    f=
    m=
    read -r f m < <(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+)$/\1 \2/p' "$logs/$preset.log" | tail -n 1) || true
    if [ -n "$m" ]; then
        passed=$((passed + m - f))
        failed=$((failed + f))
    else
        failed=$((failed + 1))
    fi
done
if [ "$quick" -eq 0 ]; then
    wp=
    wf=
    read -r wp wf < <(sed -nE 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' <<<"$windows_line") || true
    passed=$((passed + ${wp:-0}))
    failed=$((failed + ${wf:-1}))
fi
[ "$lint_status" -eq 0 ] || echo "style: clang-format or clang-tidy found problems (see above)"
[ "$fuzz_status" -eq 0 ] || { echo "fuzz: a finding (see above)"; failed=$((failed + 1)); }
print_stage_table
echo "total: $passed passed, $failed failed"
[ "$workflow_status" -eq 0 ] || exit "$workflow_status"
[ "$lint_status" -eq 0 ] || exit 1
[ "$fuzz_status" -eq 0 ] || exit 1
exit "$windows_status"
