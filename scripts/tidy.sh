#!/usr/bin/env bash
# clang-tidy over our sources (checks in .clang-tidy), using the release build's compile commands.
# Debian 12's clang-tidy 16 reads C++23 as c++2b, and libstdc++ 12 offers std::expected only to a
# compiler announcing C++20 concepts in full, which clang 16 does not yet announce: both are set here.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
command -v clang-tidy-16 >/dev/null || { echo "tidy: needs clang-tidy-16 (apt-get install clang-tidy-16)" >&2; exit 1; }
[ -f build/release/compile_commands.json ] || cmake --preset release >/dev/null
run-clang-tidy-16 -clang-tidy-binary clang-tidy-16 -p build/release -j "$(nproc)" -quiet \
    -extra-arg=-std=c++2b -extra-arg=-U__cpp_concepts -extra-arg=-D__cpp_concepts=202002L \
    "$root/(core|inspector|webview_host|tools)/"
