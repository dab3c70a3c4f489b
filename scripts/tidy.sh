#!/usr/bin/env bash
# clang-tidy over our sources (checks in .clang-tidy), using the release build's compile commands.
# Debian 12's clang-tidy 16 reads C++23 as c++2b, and libstdc++ 12 offers std::expected only to a
# compiler announcing C++20 concepts in full, which clang 16 does not yet announce: both are set here.
#
# Each file gets a time limit: clang-tidy 16 has been seen to spin without end, now and then, on a
# file it otherwise finishes in under a minute. A file that runs out of time is tried once more; a
# second time-out is a failure like a finding.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
command -v clang-tidy-16 >/dev/null || { echo "tidy: needs clang-tidy-16 (apt-get install clang-tidy-16)" >&2; exit 1; }
[ -f build/release/compile_commands.json ] || cmake --preset release >/dev/null
limit="${QUELBY_TIDY_FILE_SECONDS:-300}"

tidy_file() {
    local file="$1" attempt status
    for attempt in 1 2; do
        status=0
        timeout "$limit" clang-tidy-16 -p build/release --quiet -extra-arg=-std=c++2b \
            -extra-arg=-U__cpp_concepts -extra-arg=-D__cpp_concepts=202002L "$file" \
            2> >(grep -v 'warnings generated' >&2) || status=$?
        [ "$status" -ne 124 ] && return "$status"
        echo "tidy: $file took over $limit s (try $attempt of 2)" >&2
    done
    return 1
}
export -f tidy_file
export limit

# Our translation units, once each (some are compiled into two libraries).
python3 - "$root" <<'PY' | xargs -0 -P "$(nproc)" -I{} bash -c 'tidy_file "$1"' _ {}
import json, re, sys
root = sys.argv[1]
pattern = re.compile(re.escape(root) + r"/(core|inspector|webview_host|tools)/")
files = sorted({entry["file"] for entry in json.load(open("build/release/compile_commands.json"))
                if pattern.match(entry["file"])})
sys.stdout.write("\0".join(files))
PY
