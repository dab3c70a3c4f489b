#!/usr/bin/env bash
# How long a large bundle's source map takes to reach the front end: the window (the embedder's
# file load through window.ipc) against headless Chromium on --serve's start page (the same
# embedder, the file through the server), on the same node, interleaved in one run.
#
#   bench/source_map_bench.sh [path/to/quelby_inspector] [runs] [bundle MB]
#       (defaults: build/release/inspector/quelby_inspector, 5, 10)
#
# Both are timed from node's "Debugger attached." to the map delivered whole: the window's
# "loaded file://…bundle.js.map" diagnostic, Chromium's finished request for it. Needs node, npm,
# chromium, python3 and Xvfb; the pinned esbuild and the browser driver come from
# tests/embedder/npm_tools.sh.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
runs="${2:-5}"
megabytes="${3:-10}"
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }
# shellcheck source=bench/bench_npm_tools.sh
source "$root/bench/bench_npm_tools.sh"
# shellcheck source=bench/bench_display.sh
source "$root/bench/bench_display.sh"

python3 "$root/bench/source_map_bench.py" "$binary" "$tools" ":$display_number" "$runs" "$megabytes"
