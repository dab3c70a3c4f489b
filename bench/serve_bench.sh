#!/usr/bin/env bash
# `quelby_inspector --serve` against `python3 -m http.server` and nginx serving the same front-end
# directory on loopback, in one run: requests/s and p99 latency (wrk) for js_app.html (small) and
# the largest file, and the full-page load in headless Chromium (from its start to node's
# "Debugger attached.") from our server and from nginx.
#
#   bench/serve_bench.sh [path/to/quelby_inspector] [front-end dir]
#       (defaults: build/release/inspector/quelby_inspector, the front end that build embedded)
#   DURATION=5 CONNECTIONS=16 LOADS=7 bench/serve_bench.sh
#
# Goals: small-file throughput >= 10 x python's and >= 0.5 x nginx's; page load no slower than from
# nginx. nginx runs one worker, as our server runs one thread. Needs node, wrk, nginx, python3,
# chromium (scripts/install_dependencies.sh --benchmarks).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${1:-$root/build/release/inspector/quelby_inspector}"
frontend="${2:-$(dirname "$binary")/../frontend/front_end}"
duration="${DURATION:-5}"
connections="${CONNECTIONS:-16}"
loads="${LOADS:-7}"
[ -x "$binary" ] || { echo "bench: no program at $binary (build the release preset first)" >&2; exit 1; }
[ -f "$frontend/js_app.html" ] || { echo "bench: no front end at $frontend" >&2; exit 1; }
frontend="$(cd "$frontend" && pwd)"
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
for tool in node wrk python3 chromium "$nginx_bin"; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not installed (scripts/install_dependencies.sh --benchmarks)" >&2; exit 1; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() {  # wait_for FILE PATTERN
    for _ in $(seq 1 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
    echo "bench: timed out waiting for '$2' in $1" >&2; cat "$1" >&2; exit 1
}

node --inspect=127.0.0.1:0 -e 'setInterval(() => {}, 1000)' 2>"$work/node.err" &
pids+=($!)
wait_for "$work/node.err" 'Debugger listening'
node_addr="$(sed -n 's|^Debugger listening on ws://\([^/]*\)/.*$|\1|p' "$work/node.err" | head -n 1)"

"$binary" --serve "$node_addr" >"$work/quelby.out" 2>"$work/quelby.err" &
pids+=($!)
wait_for "$work/quelby.out" 'devtools'
url="$(sed -n 2p "$work/quelby.out" | sed 's/^quelby_inspector: devtools   = //')"
quelby_base="${url%%/js_app.html*}"
page_path="/js_app.html${url#*/js_app.html}"

python_port="$(free_port)"
(cd "$frontend" && exec python3 -m http.server --bind 127.0.0.1 "$python_port" >/dev/null 2>&1) &
pids+=($!)

nginx_port="$(free_port)"
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    server { listen 127.0.0.1:$nginx_port; root $frontend; }
}
EOF
"$nginx_bin" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
pids+=($!)

for base in "$quelby_base" "http://127.0.0.1:$python_port" "http://127.0.0.1:$nginx_port"; do
    for _ in $(seq 1 100); do curl -sf -o /dev/null "$base/js_app.html" && break; sleep 0.05; done
    curl -sf -o /dev/null "$base/js_app.html" || { echo "bench: $base does not answer" >&2; exit 1; }
done

largest="$(cd "$frontend" && find . -type f -printf '%s %P\n' | sort -n | tail -n 1 | cut -d' ' -f2)"

# wrk's summary: "Requests/sec: N" and, with --latency, the 99% line of the distribution.
measure() {  # measure URL -> "requests_per_second p99"
    local out rps p99
    out="$(wrk -t1 -c"$connections" -d"${duration}s" --latency "$1")"
    rps="$(echo "$out" | awk '/^Requests\/sec:/ { print $2 }')"
    p99="$(echo "$out" | awk '$1 == "99%" { print $2 }')"
    echo "$rps $p99"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }

printf '\nwrk: 1 thread, %s connections, %s s per run\n' "$connections" "$duration"
printf '%-26s %-10s %14s %10s\n' file server requests/s p99
declare -A rps
for file in js_app.html "$largest"; do
    for server in quelby python nginx; do
        case "$server" in
            quelby) base="$quelby_base" ;;
            python) base="http://127.0.0.1:$python_port" ;;
            nginx) base="http://127.0.0.1:$nginx_port" ;;
        esac
        read -r r p <<<"$(measure "$base/$file")"
        rps["$file/$server"]="$r"
        printf '%-26s %-10s %14s %10s\n' "$(basename "$file")" "$server" "$r" "$p"
    done
    printf '%-26s quelby/python %.1f x, quelby/nginx %.2f x\n' "$(basename "$file")" \
        "$(ratio "${rps[$file/quelby]}" "${rps[$file/python]}")" \
        "$(ratio "${rps[$file/quelby]}" "${rps[$file/nginx]}")"
done

# Full-page load: Chromium's start to node's "Debugger attached.", alternating the two servers.
attached() { grep -c 'Debugger attached' "$work/node.err" || true; }
load_once() {  # load_once URL -> milliseconds
    local before start now profile
    before="$(attached)"
    profile="$(mktemp -d "$work/profile.XXXX")"
    start=$(date +%s%N)
    HOME="$profile" chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" "$1" >/dev/null 2>&1 &
    local browser=$!
    while [ "$(attached)" -le "$before" ]; do
        now=$(date +%s%N)
        [ $(((now - start) / 1000000)) -lt 60000 ] || { kill "$browser"; echo "bench: no attach from $1" >&2; exit 1; }
        sleep 0.01
    done
    now=$(date +%s%N)
    kill "$browser" 2>/dev/null || true
    wait "$browser" 2>/dev/null || true
    echo $(((now - start) / 1000000))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=()
theirs=()
for _ in $(seq 1 "$loads"); do
    ours+=("$(load_once "$quelby_base$page_path")")
    theirs+=("$(load_once "http://127.0.0.1:$nginx_port$page_path")")
done
ours_median="$(median "${ours[@]}")"
theirs_median="$(median "${theirs[@]}")"
printf '\npage load to "Debugger attached." (headless Chromium, %s runs each, fresh profile)\n' "$loads"
printf '  quelby --serve: median %s ms (%s)\n' "$ours_median" "${ours[*]}"
printf '  nginx:          median %s ms (%s)\n' "$theirs_median" "${theirs[*]}"
printf '  quelby/nginx:   %.2f x\n' "$(ratio "$ours_median" "$theirs_median")"
