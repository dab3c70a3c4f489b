#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the test suite need. Run as root (or via
# sudo). With --benchmarks it also installs what only the benchmarks use (wrk, nginx).
set -euo pipefail

packages=(
    # build, and the style checks of the test suite
    cmake ninja-build g++ pkg-config git clang-format clang-tidy-16
    # the fuzz preset: clang 16 (it compiles libstdc++ 12's <expected>) and its libFuzzer
    clang-16 libclang-rt-16-dev
    # libraries
    nlohmann-json3-dev libboost-stacktrace-dev libboost-dev libssl-dev libcurl4-openssl-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev hyperfine curl jq time python3
    # packaging: the manual page (help2man), the .deb's Depends (dpkg-shlibdeps) and its check
    help2man dpkg-dev lintian
    # a real V8 inspector for the end-to-end tests and the demo
    nodejs npm
    # the Windows build: MinGW-w64 cross compiler, Wine to run it, Xvfb for its window
    g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth
    # the Linux window: WebKitGTK headers (the libraries are opened at run time), and a private X
    # server, window manager and X tools for the window tests and the demo
    libwebkit2gtk-4.1-dev libx11-dev xvfb xauth xdotool x11-utils matchbox-window-manager wmctrl
    # a real browser opening the front end that --serve serves, in its end-to-end test
    chromium
)
if [ "${1:-}" = "--benchmarks" ]; then
    # the baselines of the --serve benchmark: a load generator and a static web server
    packages+=(wrk nginx-light)
fi

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
