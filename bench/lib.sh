# Helpers shared by the benchmark scripts; source it, do not run it.
#
#   bench_setup DEFAULT_RUNS BUILD_DIR TARGET...
#       Sets root (the repository), build (BUILD_DIR, or root/build when empty), runs (RUNS, or
#       DEFAULT_RUNS) and work (a fresh temporary folder, removed on exit after the script's own
#       bench_cleanup, if it defines one), then builds the targets.
#   make_tree DIR FILES FILE_KIB
#       FILES files of FILE_KIB KiB of random data, ten to a folder: DIR/dNN/fNNNN.bin.
#   measure CMD...
#       Runs CMD $runs times, each time after the function named by $prepare, if set (for
#       example `prepare=restore measure cp ...`). Leaves the best wall seconds in best, the peak
#       resident memory (KiB) of that run in rss, and the output of the last run in
#       $work/stdout. A failing run ends the script.
#   report LABEL OURS_WALL OURS_RSS TOOL TOOL_WALL TOOL_RSS [TARGET]
#       One line with both figures and the time ratio updater / tool, then its row (see row).
#   row FIGURE OURS PEER PEER_NAME TARGET
#       One row of the summary table bench/run gathers: "| FIGURE | OURS | PEER_NAME PEER |
#       ours / peer | TARGET |" (PEER may be empty, for a figure with a target but no peer).
#   free_ports N
#       Sets ports to N free loopback TCP ports.
#   start_nginx CONF
#       Starts nginx in the foreground mode of CONF (prefix: CONF's folder) in the background and
#       waits until every port in ports answers; it is stopped on exit.
#   start_mirrors MIRROR_DIR [DIRECTIVE...]
#       Three nginx mirrors on free ports (in ports) serving MIRROR_DIR as the deployed mirror
#       configuration does, plus the given server directives; each request's body bytes go to
#       $work/nginx/access.log, one number per line.
#   make_installation
#       An installation in $install (root three levels above the program, a mirrors.ini naming
#       the three mirrors), a temp folder $tmp and a client opener in $work/bin that does nothing.
#   one_big_file BYTES [DIRECTIVE...]
#       An installation (make_installation) of version 1, a 1 MiB big.bin, and mirrors (with the
#       directives, see start_mirrors) serving version 2, whose big.bin of BYTES is in $work/v2.
#   run_updater VERSION
#       `update --nouser` of $install to VERSION; its log, each line prefixed with the time it
#       came, in $work/ours.log, its errors in $work/ours.err. Export install, tmp and work first.
set -euo pipefail

bench_setup() {
    local default_runs=$1 build_arg=$2
    shift 2
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    build="$(cd "${build_arg:-$root/build}" && pwd)"
    runs="${RUNS:-$default_runs}"
    [ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: run scripts/setup" >&2; exit 1; }
    cmake --build "$build" -j2 --target "$@" >/dev/null
    work="$(mktemp -d "${TMPDIR:-/tmp}/crv-bench.XXXXXX")"
    trap bench_exit EXIT
}

bench_exit() {
    if declare -F bench_cleanup >/dev/null; then
        bench_cleanup
    fi
    if [ -n "${nginx_pid:-}" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}

free_ports() {
    ports=($(python3 -c '
import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in socks))' "$1"))
}

start_nginx() {
    local conf=$1 port
    command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] \
        || { echo "nginx is missing: run scripts/setup" >&2; exit 1; }
    PATH="$PATH:/usr/sbin" nginx -p "$(dirname "$conf")" -c "$conf" &
    nginx_pid=$!
    for port in "${ports[@]}"; do
        for _ in $(seq 100); do
            curl -s -o /dev/null "http://127.0.0.1:$port/" && break
            sleep 0.05
        done
    done
}

make_tree() {
    local dir=$1 files=$2 file_kib=$3 n i
    # Four digits at least, whatever the count: the scripts name d00/f0000.bin.
    for n in $(seq 0 $((files - 1))); do
        printf -v i '%04d' "$n"
        mkdir -p "$dir/d${i:0:2}"
        head -c "$((file_kib * 1024))" /dev/urandom >"$dir/d${i:0:2}/f$i.bin"
    done
}

measure() {
    local wall kib
    best="" rss=""
    for _ in $(seq "$runs"); do
        if [ -n "${prepare:-}" ]; then
            "$prepare"
        fi
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" \
            || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
        read -r wall kib <"$work/time"
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$wall" rss="$kib"
        fi
    done
}

report() {
    awk -v l="$1" -v ow="$2" -v or="$3" -v tn="$4" -v tw="$5" -v tr="$6" 'BEGIN {
        printf "%-18s updater %6.2f s %7.1f MiB | %-8s %6.2f s %7.1f MiB | time ratio %.2f\n",
               l, ow, or / 1024, tn, tw, tr / 1024, (tw > 0 ? ow / tw : 0) }'
    row "$1 (s)" "$2" "$5" "$4" "${7:-}"
}

row() {
    awk -v f="$1" -v o="$2" -v p="$3" -v n="$4" -v t="$5" 'BEGIN {
        ratio = (p != "" && p > 0) ? sprintf("%.2f", o / p) : ""
        printf "| %s | %s | %s | %s | %s |\n", f, o, (p == "" ? "" : n " " p), ratio, t }'
}

start_mirrors() {
    local mirror=$1 port
    shift
    free_ports 3
    mkdir -p "$work/nginx"
    {
        echo "daemon off; worker_processes 2; pid $work/nginx/nginx.pid;"
        [ "$(id -u)" -ne 0 ] || echo "user root;"
        echo "error_log $work/nginx/error.log;"
        echo "events { worker_connections 512; }"
        echo "http { client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;"
        echo "  log_format bytes \$body_bytes_sent;"
        for port in "${ports[@]}"; do
            echo "  server { listen 127.0.0.1:$port; root $mirror;"
            echo "           access_log $work/nginx/access.log bytes; $*"
            echo "           include $root/deploy/nginx/corvanta-mirror.conf; }"
        done
        echo "}"
    } >"$work/nginx/nginx.conf"
    start_nginx "$work/nginx/nginx.conf"
}

make_installation() {
    local opener i
    install="$work/install"
    tmp="$work/tmp"
    mkdir -p "$install/Updater.app/Contents/MacOS" "$tmp" && mkdir -m 700 "$work/runtime"
    cp "$build/bin/update" "$install/Updater.app/Contents/MacOS/"
    # After the update it starts the client through the opener in PATH.
    opener=$(sed -n 's/^CRV_CLIENT_OPENER:[A-Z]*=//p' "$build/CMakeCache.txt")
    mkdir -p "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/$(basename "$opener")"
    chmod 755 "$work/bin/$(basename "$opener")"
    {
        echo "[mirrors]"
        for i in 1 2 3; do echo "$i\\mirror=m$i"; done
        echo "size=3"
        for i in 1 2 3; do printf '[m%s]\nurl=http://127.0.0.1:%s\n' "$i" "${ports[$((i - 1))]}"; done
    } >"$install/mirrors.ini"
}

run_updater() {
    TMPDIR="$tmp" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" PATH="$work/bin:$PATH" \
        "$install/Updater.app/Contents/MacOS/update" --nouser client_macosx "$1" 2>"$work/ours.err" \
        | while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done >"$work/ours.log"
    [ "${PIPESTATUS[0]}" -eq 0 ]
}

one_big_file() {
    local bytes=$1
    shift
    chmod 755 "$work"
    mkdir -p "$work/v1" "$work/v2"
    head -c 1M /dev/urandom >"$work/v1/big.bin"
    head -c "$bytes" /dev/urandom >"$work/v2/big.bin"
    "$build/bin/crv-release" publish --key "$root/keys/demo-private.key" --input "$work/v2" \
        --version 2 --output "$work/mirror" >/dev/null
    start_mirrors "$work/mirror" "$@"
    make_installation
    cp -a "$work/v1/." "$install/"
}
