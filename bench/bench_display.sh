# shellcheck shell=bash
# Sourced by the benchmarks that open windows: a private X server ($display_number) and an empty
# home for the program ($bench_home), both gone when the benchmark exits.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
bench_home="$(mktemp -d)"
trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$bench_home"' EXIT
# shellcheck disable=SC2034 # read by the benchmark that sources this
read -r -t 20 display_number <&3 || { echo "bench: Xvfb did not start" >&2; exit 1; }
