# shellcheck shell=bash
# Sourced by the benchmarks that drive a browser or build bundles (after setting $root): the pinned
# npm tools in build/bench_npm_tools ($tools).
# shellcheck disable=SC2154,SC2034 # $root comes from the benchmark, $tools goes back to it
tools="$root/build/bench_npm_tools"
"$root/tests/embedder/npm_tools.sh" "$tools" >/dev/null
