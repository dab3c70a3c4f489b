# Sourced by the benchmarks: the pinned npm tools in build/bench_npm_tools ($tools) and a private
# X server ($display_number), stopped when the benchmark exits.
tools="$root/build/bench_npm_tools"
"$root/tests/embedder/npm_tools.sh" "$tools" >/dev/null

exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
read -r -t 20 display_number <&3 || { echo "bench: Xvfb did not start" >&2; exit 1; }
