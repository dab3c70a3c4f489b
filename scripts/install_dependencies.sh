#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the test suite need. Run as root (or via sudo).
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    # libraries
    nlohmann-json3-dev libboost-stacktrace-dev libssl-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev hyperfine curl
    # a real V8 inspector for the end-to-end tests and the demo
    nodejs npm
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# node may come from elsewhere than Debian (a newer release); any node on PATH will do.
if command -v node >/dev/null && command -v npm >/dev/null; then
    filtered=()
    for p in "${missing[@]}"; do
        [ "$p" = nodejs ] || [ "$p" = npm ] || filtered+=("$p")
    done
    missing=("${filtered[@]}")
fi
if [ "${#missing[@]}" -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
