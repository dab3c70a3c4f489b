#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for N seconds each (default 20), starting from
# the committed seeds in tests/fuzz/corpus/. Fails on the first finding (a crash, a sanitizer
# report, a broken property, a leak or a time-out) and leaves the input that caused it in
# build/fuzz/findings/. A longer run is the same command with more seconds, e.g.
#   scripts/fuzz.sh 300
# What each run learns is kept in build/fuzz/corpus/ (not committed) and reused by the next run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-20}"
jobs="${QUELBY_FUZZ_BUILD_JOBS:-2}"
command -v clang++-16 >/dev/null ||
    { echo "fuzz: needs clang-16 and libclang-rt-16-dev (scripts/install_dependencies.sh)" >&2; exit 1; }

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$jobs" --target quelby_fuzzers >/dev/null

targets=(http_reply_fuzz ws_target_fuzz target_choice_fuzz address_fuzz text_fuzz scheme_fuzz)
mkdir -p build/fuzz/findings
status=0
for target in "${targets[@]}"; do
    work="build/fuzz/corpus/$target"
    mkdir -p "$work"
    log="build/fuzz/$target.log"
    # New inputs go to the first folder; the seeds are only read.
    if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-" \
        "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
        execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
        cov="$(grep -Eo 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)"
        echo "fuzz: $target: ${execs:-?} executions, ${cov:-?} edges, no finding"
    else
        echo "fuzz: $target: FINDING (log: $log)" >&2
        grep -E 'ERROR|property failed|Test unit written' "$log" >&2 || tail -20 "$log" >&2
        status=1
    fi
done
exit "$status"
