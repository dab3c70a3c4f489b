#!/usr/bin/env bash
# Times how long the embedded front end costs a rebuild, and how much of the program it is.
#
#   bench/asset_table_build_time.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 3)
#
# 1. "touch": one front-end file's time stamp changes. The generator (which runs on every build)
#    walks all 640 files again; only the entries' source changes (it records the time), so only it
#    is recompiled: the data's assembler source is unchanged.
# 2. "content": one front-end file gains a byte (restored afterwards): the generator reruns, the
#    assembler re-reads all 12.5 MB and the entries are recompiled.
# 3. "from scratch": the generated sources are deleted, then quelby_assets is rebuilt.
# 4. Size: the generated objects' embedded data, and the program's code (.text) against its
#    read-only data, from `size -A` (the program if it is built, else a small test binary).
set -euo pipefail

build=${1:-build/release}
runs=${2:-3}
[ -f "$build/build.ninja" ] || { echo "no configured build in $build" >&2; exit 1; }

front_end=$(sed -n 's/^QUELBY_FRONTEND_DIR:PATH=//p' "$build/CMakeCache.txt")
[ -n "$front_end" ] || front_end="$build/frontend/front_end"
generated="$build/inspector/assets/generated"

cmake --build "$build" --target quelby_assets -j2 >/dev/null

# Seconds (with milliseconds) that one command takes.
seconds_of() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) / 1e9 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

touched=()
content=()
scratch=()
probe="$front_end/js_app.html"
saved=$(mktemp)
cp -p "$probe" "$saved"
trap 'cp -p "$saved" "$probe"; rm -f "$saved"' EXIT
for _ in $(seq "$runs"); do
    touch "$probe"
    touched+=("$(seconds_of cmake --build "$build" --target quelby_assets -j2)")
    printf ' ' >>"$probe"
    content+=("$(seconds_of cmake --build "$build" --target quelby_assets -j2)")
    cp -p "$saved" "$probe"
    rm -f "$generated"/asset_table_*
    scratch+=("$(seconds_of cmake --build "$build" --target quelby_assets -j2)")
done
report() { echo "$1: $(printf '%s ' "${@:2}")s (median $(printf '%s\n' "${@:2}" | median) s)"; }
report "touch one front-end file, rebuild quelby_assets " "${touched[@]}"
report "change one front-end file, rebuild quelby_assets" "${content[@]}"
report "generated sources deleted, rebuild quelby_assets" "${scratch[@]}"

section_size() { size -A "$1" | awk -v s="$2" '$1 == s { print $2 }'; }

embedded=0
for object in "$build"/inspector/CMakeFiles/quelby_assets.dir/generated/*.o; do
    for section in .rodata .rdata; do
        bytes=$(section_size "$object" "$section")
        embedded=$((embedded + ${bytes:-0}))
    done
done
echo "generated table objects: ${embedded} bytes of embedded read-only data"

binary="$build/inspector/quelby_inspector"
[ -x "$binary" ] || binary="$build/tests/assets/asset_lookup_test"
if [ -x "$binary" ]; then
    text=$(section_size "$binary" .text)
    rodata=$(section_size "$binary" .rodata)
    total=$(stat -c %s "$binary")
    echo "${binary#"$build"/}: file ${total} bytes; code (.text) ${text:-0}; read-only data (.rodata) ${rodata:-0}, of which embedded front end ${embedded}; everything else $((total - embedded))"
fi
