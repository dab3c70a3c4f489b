#!/usr/bin/env bash
# How long a large script takes to show at its paused line, and to stop at a breakpoint near its
# end after F8: the window against headless Chromium on --serve's start page (the same front end),
# on the same node, interleaved in one run, for scripts of several sizes.
#
#   bench/large_script_bench.sh [path/to/quelby_inspector] [runs] [sizes in MB...]
#       (defaults: build/release/inspector/quelby_inspector, 3, 1 5 20)
#
# Timed from node's "Debugger attached." to the paused line on screen (the window: its colour in a
# screenshot; Chromium: the editor's execution line visible), and from F8 to the new paused line.
# Needs node, npm, chromium, python3, xdotool, ImageMagick's import and Xvfb; the browser driver
# comes from tests/embedder/npm_tools.sh.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
runs="${2:-3}"
shift $(( $# > 2 ? 2 : $# ))
sizes=("${@:-1 5 20}")
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }
# shellcheck source=bench/bench_npm_tools.sh
source "$root/bench/bench_npm_tools.sh"
# shellcheck source=bench/bench_display.sh
source "$root/bench/bench_display.sh"

# shellcheck disable=SC2068
python3 "$root/bench/large_script_bench.py" "$binary" "$tools" ":$display_number" "$runs" ${sizes[@]}
