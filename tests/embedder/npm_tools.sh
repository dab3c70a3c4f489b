#!/usr/bin/env bash
# Installs the pinned compiler and bundler (package-lock.json) into the folder given, once: a
# later run with the same lock file changes nothing.
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
target="$1"
mkdir -p "$target"
if [ -x "$target/node_modules/.bin/tsc" ] && [ -x "$target/node_modules/.bin/esbuild" ] &&
   [ -d "$target/node_modules/playwright-core" ] &&
   cmp -s "$source_dir/package-lock.json" "$target/package-lock.json"; then
    exit 0
fi
cp "$source_dir/package.json" "$source_dir/package-lock.json" "$target/"
cd "$target"
npm ci --no-audit --no-fund --loglevel=error
"$target/node_modules/.bin/tsc" --version
"$target/node_modules/.bin/esbuild" --version
