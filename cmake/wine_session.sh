#!/usr/bin/env bash
# A private Wine session for the Windows checks that ctest runs: a Wine prefix, a persistent
# wineserver and an X display (Xvfb) of their own, in one folder.
#   wine_session.sh start DIR   create or reuse DIR/prefix, start Xvfb and the wineserver
#   wine_session.sh stop DIR    stop both
#   wine_session.sh run DIR PROGRAM ARGS...   run a Windows program in the session (the emulator)
set -euo pipefail
action="$1"
dir="$2"
shift 2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
start)
    mkdir -p "$dir"
    "$0" stop "$dir"
    rm -f "$dir/display"
    # Every background process gets descriptors of its own: ctest waits for the test's output to
    # close, which a server holding it open would never let happen.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$dir/display" </dev/null \
        >/dev/null 2>&1 &
    # The process's start time beside its number: a number the system has since given to another
    # process is never taken for ours.
    echo "$! $(cut -d' ' -f22 "/proc/$!/stat")" >"$dir/xvfb.pid"
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
    [ -s "$dir/display" ] || { echo "wine session: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$dir/display")"
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot --init </dev/null >/dev/null 2>&1
    ;;
stop)
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    if [ -f "$dir/xvfb.pid" ]; then
        read -r pid started <"$dir/xvfb.pid" || true
        if [ -n "${pid:-}" ] && [ "$(cut -d' ' -f22 "/proc/$pid/stat" 2>/dev/null)" = "${started:-}" ]; then
            kill "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$dir/display" "$dir/xvfb.pid"
    ;;
run)
    export DISPLAY=":$(head -n 1 "$dir/display")"
    exec wine "$@"
    ;;
*)
    echo "usage: wine_session.sh start|stop|run DIR [PROGRAM ARGS...]" >&2
    exit 2
    ;;
esac
