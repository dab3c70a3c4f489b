#!/usr/bin/env bash
# The Windows build, cross-built with MinGW-w64 and checked under Wine: configures and builds the
# "windows" preset, then runs the real quelby_inspector.exe (the console behaviour of the program
# cases in tests/cases/program, read by the case runner built for Windows; runs against node; the
# window step without a WebView2 runtime on Xvfb; the host against a runtime double), runs the
# host's document-start scripts in node as the runtime would, then the unit suites and table cases
# through ctest, and ends with "N passed, M failed". Everything runs in private Wine
# prefixes, with their own wineservers and X displays, which are stopped at the end.
# What ctest can run (the GoogleTest suites, the table cases) is a ctest test of the windows preset
# (`cmake --workflow --preset windows`); this script keeps what needs the real exe and peers.
#
#   QUELBY_WINDOWS_BUILD_DIR   build folder (default: build/windows, the preset's)
#   extra arguments            passed to the configure step (e.g. -DQUELBY_FRONTEND_TARBALL=...)
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUELBY_WINDOWS_BUILD_DIR:-$root/build/windows}"
jobs="${QUELBY_JOBS:-2}"

echo "=== configure and build ($build)"
cmake --preset windows -S "$root" -B "$build" "$@" || exit 1
cmake --build "$build" -j "$jobs" || exit 1
exe="$build/inspector/quelby_inspector.exe"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "=== private Wine prefix and display"
# The display first: Wine's desktop process, started with the prefix, keeps the display it saw.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n 1 "$work/display")"
export DISPLAY="$display"
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot --init >/dev/null 2>&1

passed=0
failed=0
check() {  # check NAME COMMAND...: counts and reports one check
    local name="$1"
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}

# Runs the exe; its stdout and stderr, without CRs, land in $work/out and $work/err.
run_exe() {
    local status
    wine "$exe" "$@" >"$work/out.raw" 2>"$work/err.raw"
    status=$?
    tr -d '\r' <"$work/out.raw" >"$work/out"
    # Wine's own diagnostics share standard error; the program's lines are the rest.
    grep -avE '^[0-9a-f]{4}:(trace|fixme|err|warn):|^it looks like wine32|^multiarch needs|^execute "dpkg|^apt-get install wine32' \
        <"$work/err.raw" | tr -d '\r' >"$work/err"
    return $status
}

expect_status() { [ "$1" -eq "$2" ] || { echo "  status $1, expected $2"; return 1; }; }
expect_file() {  # expect_file FILE TEXT: the file is exactly TEXT
    diff <(printf '%s' "$2") "$1" >/dev/null || { echo "  $1:"; sed 's/^/    /' "$1"; return 1; }
}
expect_contains() { grep -aqF -- "$2" "$1" || { echo "  no \"$2\" in:"; sed 's/^/    /' "$1"; return 1; }; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
check_version() {  # check_version EXE
    exe="$1" run_exe --version
    local status=$?
    expect_status $status 0 && expect_file "$work/err" "" &&
        [ "$(head -n 1 "$work/out")" = "quelby_inspector $version" ] &&
        expect_contains "$work/out" "  web view   Win32 + WebView2"
}

# The zip a Windows user downloads: the exe with its notices, and the exe runs from there.
check_zip() {
    cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/zip" >/dev/null || return 1
    local unpacked="$work/zip/quelby-inspector-$version-win64"
    (cd "$work/zip" && cmake -E tar xf "quelby-inspector-$version-win64.zip") || return 1
    [ "$(cd "$unpacked" && ls)" = $'README.md\nTHIRD_PARTY_NOTICES.md\nquelby_inspector.exe' ] ||
        { echo "  zip holds: $(cd "$unpacked" && ls | tr '\n' ' ')"; return 1; }
    check_version "$unpacked/quelby_inspector.exe"
}
check "zip package: exe and notices; the packaged exe runs" check_zip

# The console behaviour against scripted inspectors (usage, address forms, --target, peers that
# fail, stall or lie, what a run prints): the program cases, run by the case runner built for
# Windows against the exe, each case one check. Upper bounds on time get 2 s more for the start
# of a process under Wine.
check_cases() {
    local log="$work/cases.log" line status
    (cd "$root" && wine "$build/tests_wine/quelby_case_runner.exe" --program "$(winepath -w "$exe")" \
        --time-slack 2000 tests/cases/program/*.md) 2>&1 | tr -d '\r' >"$log"
    status=${PIPESTATUS[0]}
    while IFS= read -r line; do
        case "$line" in
        "PASS "*) passed=$((passed + 1)) ;;
        "FAIL "* | "ERROR "*) failed=$((failed + 1)) ;;
        esac
        echo "$line"
    done <"$log"
    # A runner that stopped short of its totals (a crash, a case file it could not read) is a
    # failure of its own.
    if ! grep -qE '^[0-9]+ passed, 0 failed$' "$log" && ! grep -qE '^(FAIL|ERROR) ' "$log"; then
        failed=$((failed + 1))
        echo "FAIL the case runner ended with status $status before its totals"
    fi
}
check_cases

# A real V8 inspector on Linux; the exe under Wine reaches it over loopback.
echo 'setInterval(() => {}, 1000);' >"$work/target.js"
node --inspect=127.0.0.1:0 "$work/target.js" 2>"$work/node.err" &
pids+=($!)
for _ in $(seq 100); do grep -q 'Debugger listening' "$work/node.err" && break; sleep 0.1; done
node_ws="$(grep -o 'ws://127.0.0.1:[0-9]*/[0-9a-f-]*' "$work/node.err" | head -n 1)"
node_addr="$(echo "$node_ws" | sed -E 's|ws://([^/]*)/.*|\1|')"

three_lines() {  # three_lines WS_TARGET FRONTEND_URL
    printf 'quelby_inspector: ws target  = %s\nquelby_inspector: devtools   = %s\n%s\n' "$1" "$2" \
        "quelby_inspector: (frontend is embedded; override with QUELBY_INSPECTOR_FRONTEND)"
}

check_print_url_node() {
    local target="${node_ws#ws://}"
    run_exe --print-url "$node_addr"
    local status=$?
    expect_status $status 0 && expect_file "$work/err" "" &&
        expect_file "$work/out" "$(three_lines "$target" "http://devtools.localhost/js_app.html?ws=$target&experiments=true&v8only=true")"$'\n'
}
check "--print-url against node --inspect" check_print_url_node

check_node_forms() {  # what node prints, a +port, and --target: all give node's own target
    local target="${node_ws#ws://}" form status
    for form in "$node_ws" "127.0.0.1:+${node_addr#*:}" "--target=0 $node_addr"; do
        # shellcheck disable=SC2086 # the --target form is two arguments
        run_exe --print-url $form
        status=$?
        expect_status $status 0 && expect_file "$work/err" "" &&
            expect_file "$work/out" "$(three_lines "$target" "http://devtools.localhost/js_app.html?ws=$target&experiments=true&v8only=true")"$'\n' ||
            return 1
    done
}
check "node's ws:// address, a +port and --target against node --inspect" check_node_forms

# A scripted inspector on a free loopback port: every request gets "HTTP/1.0 200 OK", the extra
# head lines given and the body given (Python byte-string literals), then the connection closes;
# with a third literal, that body from the second request on (a debuggee that restarted). Prints
# its port.
cat >"$work/answer.py" <<'PY'
import ast, socket, sys
head, body = ast.literal_eval(sys.argv[1]), ast.literal_eval(sys.argv[2])
later = ast.literal_eval(sys.argv[3]) if len(sys.argv) > 3 else body
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(8)
print(server.getsockname()[1], flush=True)
while True:
    connection, _ = server.accept()
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = connection.recv(4096)
        if not chunk:
            break
        request += chunk
    connection.sendall(b"HTTP/1.0 200 OK\r\n" + head + b"\r\n" + body)
    connection.close()
    body = later
PY
# start_answering NAME HEAD BODY [LATER]: the server in the background, its port in
# $work/NAME.port
start_answering() {
    python3 "$work/answer.py" "${@:2}" >"$work/$1.port" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/$1.port" ] && break; sleep 0.1; done
}
start_answering fake "b'Content-Type: application/json\\r\\n'" \
    "b'[{\"webSocketDebuggerUrl\": \"ws://127.0.0.1:4000/fake-target\"}]'"
fake_addr="127.0.0.1:$(head -n 1 "$work/fake.port")"

# --serve: the exe serves the embedded front end over loopback; curl on Linux fetches the start page
# (which loads the embedder, then the front end) and js_app.html, which must be exactly the bytes of
# the front-end build: the pinned one unpacked in the build folder, or QUELBY_FRONTEND_DIR.
frontend_dir="$(sed -n 's/^QUELBY_FRONTEND_DIR:PATH=//p' "$build/CMakeCache.txt")"
[ -z "$frontend_dir" ] && frontend_dir="$build/frontend/front_end"
check_serve() {
    local serve_pid url expected="$frontend_dir/js_app.html"
    wine "$exe" --serve "$fake_addr" >"$work/serve.out" 2>"$work/serve.err" &
    serve_pid=$!
    pids+=("$serve_pid")
    for _ in $(seq 150); do [ "$(grep -c . "$work/serve.out")" -ge 3 ] && break; sleep 0.1; done
    url="$(sed -n 2p "$work/serve.out" | tr -d '\r' | sed 's/^quelby_inspector: devtools   = //')"
    echo "  served: $url"
    local ok=0
    local origin="${url%%/inspector.html*}"
    if [[ "$url" =~ ^http://127\.0\.0\.1:[0-9]+/inspector\.html\?ws=127\.0\.0\.1:4000/fake-target\&experiments=true\&v8only=true\&host=[0-9a-f]{32}$ ]] &&
        curl -sf -o /dev/null "$url" &&
        curl -sf -o "$work/served.html" "$origin/js_app.html" && cmp "$work/served.html" "$expected" &&
        [ "$(curl -s -o /dev/null -w '%{content_type}' "$origin/entrypoints/js_app/js_app.js")" = "text/javascript; charset=utf-8" ] &&
        [ "$(curl -s -o /dev/null -w '%{http_code}' -H 'Host: evil.example' "$url")" = 403 ]; then
        ok=1
    fi
    kill "$serve_pid" 2>/dev/null
    wait "$serve_pid" 2>/dev/null
    [ "$ok" -eq 1 ] || { echo "  output:"; tr -d '\r' <"$work/serve.out" | sed 's/^/    /'; return 1; }
}
check "--serve: the start page, and js_app.html with its exact bytes" check_serve

# The window step without a WebView2 runtime: the three lines, then the report; Wine's traces of
# window creation (+win) and of the debugger output (+debugstr) prove the window was created and
# shown before the runtime loader gave up.
check_no_runtime() {
    local target="${node_ws#ws://}"
    WINEDEBUG=-all,+win,+debugstr run_exe "$node_addr"
    local status=$?
    expect_status $status 1 &&
        expect_file "$work/out" "$(three_lines "$target" "http://devtools.localhost/js_app.html?ws=$target&experiments=true&v8only=true")"$'\n' &&
        expect_contains "$work/err" "Error: failed to create webview (is the WebView2 runtime installed?)" || return 1
    [ "$(sed -n 2,3p "$work/err")" = $'\nCaused by:' ] || { echo "  no cause section"; return 1; }
    sed -n 4p "$work/err" | grep -qE '^    WebView2 error: HRESULT 0x80070002 \(.+\)$' ||
        { echo "  cause: $(sed -n 4p "$work/err")"; return 1; }
    local created shown loader hwnd
    created="$(grep -an 'WIN_CreateWindowEx L"quelby \\2014 script inspector"' "$work/err.raw" | head -n 1 | cut -d: -f1)"
    hwnd="$(grep -aoE 'NtUserCreateWindowEx hwnd 0x[0-9a-f]+ cs [-0-9]+,[-0-9]+ 800x600' "$work/err.raw" |
        head -n 1 | grep -oE '0x[0-9a-f]+')"
    shown="$(grep -an "show_window hwnd=$hwnd, cmd=" "$work/err.raw" | head -n 1 | cut -d: -f1)"
    loader="$(grep -an 'OutputDebugStringA "WebView2: Failed to find an installed WebView2 runtime or non-stable Microsoft Edge installation.\\n"' "$work/err.raw" | head -n 1 | cut -d: -f1)"
    echo "  trace lines: window created $created, shown $shown, loader message $loader"
    [ -n "$created" ] && [ -n "$shown" ] && [ -n "$loader" ] && [ -n "$hwnd" ] &&
        [ "$created" -lt "$shown" ] && [ "$shown" -lt "$loader" ]
}
check "window step without a WebView2 runtime (Xvfb)" check_no_runtime

# The host past "no runtime": a test double of the runtime's client library, found the way the real
# one is (a relative WEBVIEW2_BROWSER_EXECUTABLE_FOLDER, taken relative to the exe, not to the
# current directory), creates everything asynchronously, checks the set-up, sends requests and
# reads the answers to the end, starts a download, resizes the window, reports the front end's
# socket closed (the inspector now lists a restarted target), and asks the window to close.
check_runtime_double() {
    local report="$work/runtime.report" status restarted_addr
    rm -f "$report" "$work/restarted.port"
    start_answering restarted "b'Content-Type: application/json\\r\\n'" \
        "b'[{\"webSocketDebuggerUrl\": \"ws://127.0.0.1:4000/fake-target\"}]'" \
        "b'[{\"webSocketDebuggerUrl\": \"ws://127.0.0.1:4000/restarted-target\"}]'"
    restarted_addr="127.0.0.1:$(head -n 1 "$work/restarted.port")"
    (cd "$work" && WEBVIEW2_BROWSER_EXECUTABLE_FOLDER='..\tests_wine\fake_runtime' \
        WEBVIEW2_USER_DATA_FOLDER=profile WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS=--quelby-test-switch \
        QUELBY_FAKE_RUNTIME_REPORT="$(winepath -w "$report")" \
        timeout 60 wine "$exe" "$restarted_addr" >"$work/out.raw" 2>"$work/err.raw")
    status=$?
    echo "  $(grep -c '^ok ' "$report" 2>/dev/null || echo 0) checks of the double passed"
    grep -v '^ok ' "$report" 2>/dev/null | grep -v '^done$' | sed 's/^/  /'
    expect_status $status 0 && grep -qx done "$report" && ! grep -q '^FAIL' "$report" &&
        grep -qa '^quelby_inspector: ws target  = 127.0.0.1:4000/restarted-target' "$work/out.raw" ||
        { echo "  stdout:"; sed 's/^/    /' "$work/out.raw"; return 1; }
}
check "WebView2 host against a runtime double (Xvfb)" check_runtime_double

# The document-start scripts the host gives the runtime, run by V8 (node) as the runtime runs them,
# in a top-level document and in a frame: window.ipc both ways, and a top-document script only at
# the top. The double writes them out while a unit test of the host builds a web view.
check_document_scripts() {
    local scripts="$work/document_scripts"
    rm -rf "$scripts"
    mkdir -p "$scripts"
    (cd "$build/tests_wine" && QUELBY_FAKE_RUNTIME_SCRIPTS="$(winepath -w "$scripts")" \
        timeout 120 wine ./wine_webview_test.exe \
        --gtest_filter=OnRuntimeDouble.BuildZoomsThenAddsTheScriptsInOrderThenNavigates \
        >"$work/scripts.log" 2>&1) || { tail -20 "$work/scripts.log"; return 1; }
    node "$root/tests/wine/document_scripts_check.js" "$scripts" >"$work/scripts.check" 2>&1
    local status=$?
    echo "  $(grep -c '^ok ' "$work/scripts.check") checks in V8 passed"
    grep -v '^ok ' "$work/scripts.check" | sed 's/^/  /'
    return $status
}
check "document-start scripts in V8: window.ipc both ways, top-document scripts (Xvfb)" \
    check_document_scripts

# Microsoft's loader is used from beside the exe, and never from the current directory.
check_loader_places() {
    local report="$work/loader.report" status
    rm -f "$report"
    (cd "$build/tests_wine/fake_loader" && QUELBY_FAKE_LOADER_REPORT="$(winepath -w "$report")" \
        timeout 60 wine "$exe" "$fake_addr" >/dev/null 2>&1)
    status=$?
    [ "$status" -eq 1 ] && [ ! -e "$report" ] || { echo "  a loader in the current directory ran"; return 1; }
    mkdir -p "$work/app"
    cp "$exe" "$build/tests_wine/fake_loader/WebView2Loader.dll" "$work/app/"
    QUELBY_FAKE_LOADER_REPORT="$(winepath -w "$report")" run_exe_at "$work/app/quelby_inspector.exe" "$fake_addr"
    status=$?
    expect_status $status 1 && grep -qx 'loader ran' "$report" &&
        expect_contains "$work/err" "WebView2 error: HRESULT 0x80004004"
}
run_exe_at() {  # run_exe_at EXE ARGS...: run_exe with another copy of the program
    local saved="$exe" status
    exe="$1"
    shift
    run_exe "$@"
    status=$?
    exe="$saved"
    return $status
}
check "WebView2Loader.dll: beside the exe yes, current directory no (Xvfb)" check_loader_places

# Launch mode with the real exe: a stand-in for node (there is no node for Windows here) reports
# over the pipe; its addresses go to standard error, standard output stays the command's, and the
# program ends with the command's status; a command that is not there gives 127.
check_launch() {
    run_exe --print-url -- "$build/tests_wine/fake_node_process.exe" 3
    local status=$?
    expect_status $status 3 && expect_contains "$work/out" "ran " &&
        ! grep -q "quelby_inspector:" "$work/out" &&
        expect_contains "$work/err" "quelby_inspector: ws target  = 127.0.0.1:" &&
        expect_contains "$work/err" "quelby_inspector: devtools   = http://devtools.localhost/js_app.html?ws=127.0.0.1:" || return 1
    run_exe -- quelby_no_such_command_here
    status=$?
    expect_status $status 127 && expect_contains "$work/err" "command not found: quelby_no_such_command_here"
}
check "launch mode: -- COMMAND with --print-url, and a command not found" check_launch

# The unit suites (the host's pure parts, the Windows seams and the Win32 host) are ctest tests of
# the windows preset, run under Wine in a session of their own (tests/wine, cmake/wine_session.sh).
check "the Windows unit suites under Wine (ctest)" \
    bash -c 'ctest --test-dir "$1" --output-on-failure >"$2" 2>&1 || { tail -40 "$2"; exit 1; }; grep -E "tests passed" "$2" | sed "s/^/  /"' \
    _ "$build" "$work/ctest.log"

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
