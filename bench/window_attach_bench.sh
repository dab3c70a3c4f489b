#!/usr/bin/env bash
# Start -> "Debugger attached." for the program's window against headless Chromium loading the same
# front-end files from a loopback static server (same URL form), the memory of both once attached,
# and the start-up cost of the paths that open no window. Runs on its own Xvfb.
#
#   bench/window_attach_bench.sh [path/to/quelby_inspector] [runs] [path/to/baseline/quelby_inspector]
#       (defaults: build/release/inspector/quelby_inspector, 7, none)
#
# Cold runs start from an empty home (no WebKit caches, no stored settings) and an empty Chromium
# profile; warm runs reuse one that has been used once. Also reports where the window's start-up time
# goes (window mapped, first and last file served, attached, and how much CPU the web process has used
# by then: as much as its lifetime or more, since it has several threads, means the page was working,
# not waiting). A baseline build, when
# given, runs in the same interleaved rounds, and the window's medians are also given as its ratio.
#
# Goals: attach median <= 0.5x Chromium's, cold and warm; PSS once attached < 300 MiB; --print-url
# and the usage report with peak RSS < 8 MiB. Needs node, chromium, python3, GNU time, Xvfb, xev and
# the chii-1.15.5 front-end tarball
# (FRONTEND_TARBALL, default: the copy the build downloaded).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
runs="${2:-7}"
baseline="${3:-}"
binary_dir="$(cd "$(dirname "$binary")" && pwd)"
tarball="${FRONTEND_TARBALL:-$(find "$binary_dir/.." "$root/build" /tmp/chii -name 'chii-1.15.5.tgz' 2>/dev/null | head -n 1 || true)}"
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }
[ -z "$baseline" ] || [ -x "$baseline" ] || { echo "bench: no baseline program at $baseline" >&2; exit 1; }
[ -f "$tarball" ] || { echo "bench: no chii-1.15.5.tgz found; set FRONTEND_TARBALL" >&2; exit 1; }
for tool in node chromium python3 Xvfb; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not installed (scripts/install_dependencies.sh --benchmarks)" >&2; exit 1; }
done

# shellcheck source=bench/bench_display.sh
source "$root/bench/bench_display.sh"

python3 "$root/bench/window_attach_bench.py" "$binary" "$tarball" ":$display_number" "$runs" ${baseline:+"$baseline"}
