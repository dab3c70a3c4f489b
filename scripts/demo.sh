#!/usr/bin/env bash
# The whole set-up and the tool's main job on a live demo target, from a fresh clone:
# installs the packages, builds the release preset, starts `node --inspect=127.0.0.1:0` on
# scripts/demo_target.js, points quelby_inspector at it, and stops node again.
#
# Until the window step exists the tool runs with --print-url; arguments given to this script are
# passed on to the tool (e.g. scripts/demo.sh --print-url).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_dependencies.sh
cmake --preset release
cmake --build --preset release --target quelby_inspector

log="$(mktemp)"
node --inspect=127.0.0.1:0 scripts/demo_target.js 2>"$log" &
node_pid=$!
cleanup() {
    kill "$node_pid" 2>/dev/null || true
    wait "$node_pid" 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

# node announces "Debugger listening on ws://127.0.0.1:PORT/UUID" on standard error.
addr=""
for _ in $(seq 1 100); do
    addr="$(sed -n 's|^Debugger listening on ws://\([^/]*\)/.*$|\1|p' "$log" | head -n 1)"
    [ -n "$addr" ] && break
    kill -0 "$node_pid" 2>/dev/null || { cat "$log" >&2; echo "demo: node did not start" >&2; exit 1; }
    sleep 0.1
done
[ -n "$addr" ] || { cat "$log" >&2; echo "demo: node did not announce its inspector" >&2; exit 1; }

echo "demo: node inspector at $addr (pid $node_pid)"
args=("$@")
[ "${#args[@]}" -gt 0 ] || args=(--print-url)
build/release/inspector/quelby_inspector "${args[@]}" "$addr"
