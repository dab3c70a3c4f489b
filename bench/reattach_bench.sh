#!/usr/bin/env bash
# Re-attach latency: the window is attached to node, node is killed and a new node started on the
# same port (a new target id), and the time from the new node printing "Debugger listening" to it
# printing "Debugger attached." is measured, with no input to the window. Beside it, as the
# baseline, what a user did before: start the program afresh on a running node (start ->
# "Debugger attached."). Runs on its own Xvfb with an empty home.
#
#   bench/reattach_bench.sh [path/to/quelby_inspector] [runs]
#       (defaults: build/release/inspector/quelby_inspector, 7)
#
# Goal: re-attach median under 1 s. Needs node, python3 and Xvfb.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
runs="${2:-7}"
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }
for tool in node python3 Xvfb; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
[ "$runs" -ge 5 ] || { echo "bench: at least 5 runs for a median" >&2; exit 1; }

# shellcheck source=bench/bench_display.sh
source "$root/bench/bench_display.sh"
home="$bench_home"

DISPLAY=":$display_number" HOME="$home" XDG_CACHE_HOME="$home/.cache" \
    XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" LANG=C.UTF-8 \
    python3 "$root/bench/reattach_bench.py" "$binary" "$runs"
