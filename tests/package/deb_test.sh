#!/usr/bin/env bash
# The Debian package as a user gets it. Modes (each a ctest test):
#
#   deb_test.sh build BUILD_DIR OUT_DIR
#       builds the package from the built tree with cpack (no recompilation) into OUT_DIR
#   deb_test.sh install OUT_DIR VERSION
#       checks the control fields and contents and that apt could install it (simulated), then
#       unpacks it into a scratch root with dpkg -x and runs the program from there: --help,
#       --version, and --print-url against a real node --inspect=127.0.0.1:0
#   deb_test.sh lintian OUT_DIR
#       lintian over the package: fails on errors and warnings, shows every tag down to info
set -uo pipefail

mode="$1"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

the_deb() {  # the_deb OUT_DIR: the one package there
    local debs=("$1"/quelby-inspector_*.deb)
    [ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "no single package in $1" >&2; exit 1; }
    echo "${debs[0]}"
}

case "$mode" in
build)
    build="$2" out="$3"
    rm -rf "$out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" || exit 1
    deb="$(the_deb "$out")"
    dpkg-deb -I "$deb"
    dpkg-deb -c "$deb"
    ;;

install)
    out="$2" version="$3"
    deb="$(the_deb "$out")"
    [ "$(basename "$deb")" = "quelby-inspector_${version}_$(dpkg --print-architecture).deb" ] ||
        fail "file name $(basename "$deb")"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = quelby-inspector ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
    [ "$(field Section)" = devel ] || fail "Section: $(field Section)"
    [ "$(field Recommends)" = "libwebkit2gtk-4.1-0, libcurl4" ] || fail "Recommends: $(field Recommends)"
    # Depends comes from what the binary links; WebKitGTK must not be among them (opened at run
    # time, so that --print-url works without it).
    depends="$(field Depends)"
    grep -q 'libc6 (>= ' <<<"$depends" || fail "Depends without libc6: $depends"
    grep -q 'libstdc++6' <<<"$depends" || fail "Depends without libstdc++6: $depends"
    grep -qE 'webkit|gtk' <<<"$depends" && fail "Depends on a GUI library: $depends"

    # What `apt install ./file.deb` would do, without installing: the Depends must resolve here.
    apt-get install --simulate "$deb" >"$out/apt.txt" 2>&1 ||
        fail "apt-get cannot install the package: $(cat "$out/apt.txt")"

    expected_files="./usr/bin/quelby_inspector
./usr/share/doc/quelby-inspector/README.md
./usr/share/doc/quelby-inspector/THIRD_PARTY_NOTICES.md
./usr/share/doc/quelby-inspector/changelog.gz
./usr/share/doc/quelby-inspector/copyright
./usr/share/man/man1/quelby_inspector.1.gz"
    files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
    [ "$files" = "$expected_files" ] || fail "package files:"$'\n'"$files"

    work="$(mktemp -d)"
    node_pid=""
    trap '[ -n "$node_pid" ] && kill "$node_pid" 2>/dev/null; rm -rf "$work"' EXIT
    dpkg -x "$deb" "$work/root" || exit 1
    tool="$work/root/usr/bin/quelby_inspector"

    "$tool" --version >"$work/version" 2>"$work/err"
    status=$?
    [ "$status" -eq 0 ] || fail "--version: status $status, $(cat "$work/err")"
    [ "$(head -n 1 "$work/version")" = "quelby_inspector $version" ] ||
        fail "--version: $(cat "$work/version")"
    "$tool" --help >"$work/help" || fail "--help: status $?"
    head -n 1 "$work/help" | grep -q '^Usage: quelby_inspector ' || fail "--help: $(cat "$work/help")"
    # The manual page is made from --help: the installed one must describe this build.
    zcat "$work/root/usr/share/man/man1/quelby_inspector.1.gz" | grep -q -- '--print-url' ||
        fail "manual page without --print-url"
    zcat "$work/root/usr/share/man/man1/quelby_inspector.1.gz" | grep -qF "quelby_inspector $version" ||
        fail "manual page of another version"

    printf 'setInterval(() => {}, 1000);\n' >"$work/target.js"
    node --inspect=127.0.0.1:0 "$work/target.js" 2>"$work/node.err" &
    node_pid=$!
    for _ in $(seq 100); do grep -q '^Debugger listening on ws://' "$work/node.err" && break; sleep 0.1; done
    ws="$(sed -n 's|^Debugger listening on ws://\(.*\)$|\1|p' "$work/node.err" | head -n 1)"
    [ -n "$ws" ] || { cat "$work/node.err"; fail "node did not announce its inspector"; exit 1; }
    "$tool" --print-url "${ws%%/*}" >"$work/out" 2>"$work/err"
    status=$?
    expected="quelby_inspector: ws target  = $ws
quelby_inspector: devtools   = http://devtools.localhost/js_app.html?ws=$ws&experiments=true&v8only=true
quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)"
    [ "$status" -eq 0 ] || fail "--print-url: status $status, $(cat "$work/err")"
    [ "$(cat "$work/out")" = "$expected" ] || fail "--print-url printed:"$'\n'"$(cat "$work/out")"
    ;;

lintian)
    deb="$(the_deb "$2")"
    # Lintian refuses nothing as root but says so on every run; the tags are what matter here.
    lintian --fail-on error,warning --display-level '>=info' --tag-display-limit 0 "$deb" 2>&1 |
        grep -v '^running with root privileges is not recommended' | tee "$2/lintian.txt"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors or warnings"
    ;;

*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] && echo "PASS" || exit 1
