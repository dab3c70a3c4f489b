#!/usr/bin/env bash
# The whole set-up and the tool's main job on a live demo target, from a fresh clone: installs the
# packages, builds the release preset, starts `node --inspect=127.0.0.1:0` on
# scripts/demo_target.js and opens the inspector window on it.
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) the window stays open until you close it.
# Without one, the demo runs the window on a private virtual display (Xvfb with a small window
# manager), waits until the front end has attached to node, saves a screenshot when ImageMagick's
# `import` is available, and then closes the window the way a window manager does.
#
#   scripts/demo.sh              the window
#   scripts/demo.sh --print-url  only print the addresses
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install_dependencies.sh
cmake --preset release
cmake --build --preset release --target quelby_inspector
tool="$root/build/release/inspector/quelby_inspector"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds for a line matching $1 in file $3.
wait_for_line() {
    local pattern="$1" seconds="$2" file="$3"
    for _ in $(seq 1 $((seconds * 10))); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

node --inspect=127.0.0.1:0 scripts/demo_target.js 2>"$work/node.log" &
pids+=($!)
wait_for_line '^Debugger listening on ws://' 10 "$work/node.log" ||
    { cat "$work/node.log" >&2; echo "demo: node did not announce its inspector" >&2; exit 1; }
# "Debugger listening on ws://127.0.0.1:PORT/UUID"
addr="$(sed -n 's|^Debugger listening on ws://\([^/]*\)/.*$|\1|p' "$work/node.log" | head -n 1)"
echo "demo: node inspector at $addr"

if [ "${1:-}" = "--print-url" ]; then
    "$tool" --print-url "$addr"
    exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: opening the window; close it to end the demo"
    "$tool" "$addr"
    exit 0
fi

echo "demo: no display, so the window opens on a private virtual display (Xvfb)"
exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for_line '^[0-9]' 10 "$work/display" || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
matchbox-window-manager -use_titlebar yes >/dev/null 2>&1 &
pids+=($!)
# WebKit keeps its caches under HOME/XDG folders: keep them out of the user's.
export HOME="$work/home" XDG_CACHE_HOME="$work/home/.cache" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$HOME"

"$tool" "$addr" >"$work/tool.out" 2>"$work/tool.err" &
tool_pid=$!
if ! wait_for_line '^Debugger attached\.' 60 "$work/node.log"; then
    cat "$work/tool.out" "$work/tool.err" >&2
    echo "demo: the front end did not attach within 60 s" >&2
    kill "$tool_pid" 2>/dev/null || true
    exit 1
fi
cat "$work/tool.out"
echo "demo: node reports \"Debugger attached.\": the DevTools front end in the window is connected"
if command -v import >/dev/null; then
    sleep 4 # a few of the demo target's lines in the console, and the panel done painting
    import -window root "$root/build/release/demo-window.png"
    echo "demo: screenshot saved to build/release/demo-window.png"
fi
wmctrl -c "quelby — script inspector" || kill "$tool_pid"
status=0
wait "$tool_pid" || status=$?
echo "demo: window closed, quelby_inspector exited with status $status"
exit "$status"
