#!/usr/bin/env bash
# Launch mode's start-up: from `quelby_inspector -- node app.js` to node's "Debugger attached." (the
# process held at its first line with its window attached), beside the manual route in the same
# interleaved runs (`node --inspect-brk=127.0.0.1:0 app.js`, then the program on the address node
# prints); and, for a parent that forks a child, from the child's "Debugger listening" to its
# window attaching. Runs on its own Xvfb with an empty home.
#
#   bench/launch_bench.sh [path/to/quelby_inspector] [runs]
#       (defaults: build/release/inspector/quelby_inspector, 7)
#
# Goals: launch ≤ 1× the manual route; a child's window attached within 1 s of its start.
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
    python3 "$root/bench/launch_bench.py" "$binary" "$runs" "$home"
