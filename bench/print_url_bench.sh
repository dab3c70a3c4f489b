#!/usr/bin/env bash
# Whole-process time of `quelby_inspector --print-url ADDR` against a live node inspector on
# loopback, side by side with `curl -s http://ADDR/json` in one hyperfine run, and the program's
# peak resident set size.
#
#   bench/print_url_bench.sh [path/to/quelby_inspector]   (default: build/release/inspector/quelby_inspector)
#
# Goals: median ≤ 0.5 × curl's; peak RSS < 8 MiB. Needs node, hyperfine, curl, jq, GNU time.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
runs="${RUNS:-300}"
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }

work="$(mktemp -d)"
node --inspect=127.0.0.1:0 -e 'setInterval(() => {}, 1000)' 2>"$work/node.log" &
node_pid=$!
trap 'kill "$node_pid" 2>/dev/null || true; wait "$node_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

addr=""
for _ in $(seq 1 100); do
    addr="$(sed -n 's|^Debugger listening on ws://\([^/]*\)/.*$|\1|p' "$work/node.log" | head -n 1)"
    [ -n "$addr" ] && break
    sleep 0.1
done
[ -n "$addr" ] || { cat "$work/node.log" >&2; echo "bench: node did not start" >&2; exit 1; }

"$binary" --print-url "$addr" >/dev/null  # fails loudly if the program cannot do its job

hyperfine --shell=none --warmup 20 --runs "$runs" --export-json "$work/times.json" \
    -n quelby_inspector "$binary --print-url $addr" \
    -n curl "curl -s http://$addr/json"

median() { jq -r --arg n "$1" '.results[] | select(.command == $n) | .median' "$work/times.json"; }
ours="$(median quelby_inspector)"
theirs="$(median curl)"

peak_kib=0
for _ in $(seq 1 20); do
    kib="$(/usr/bin/time -f '%M' "$binary" --print-url "$addr" 2>&1 >/dev/null | tail -n 1)"
    [ "$kib" -gt "$peak_kib" ] && peak_kib="$kib"
done

awk -v ours="$ours" -v theirs="$theirs" -v kib="$peak_kib" 'BEGIN {
    ratio = ours / theirs
    printf "median: quelby_inspector %.3f ms, curl %.3f ms, ratio %.2f (goal <= 0.50) %s\n",
           ours * 1000, theirs * 1000, ratio, (ratio <= 0.5 ? "OK" : "MISSED")
    printf "peak RSS: %.2f MiB over 20 runs (goal < 8 MiB) %s\n", kib / 1024, (kib < 8192 ? "OK" : "MISSED")
}'
