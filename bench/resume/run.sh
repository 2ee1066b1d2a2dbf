#!/usr/bin/env bash
# Benchmark of a resumed download: a release holding one file of 200 MiB, served by three nginx
# mirrors on loopback at a limited rate (so that a kill can land half-way), is installed by
# `update --nouser`, which is killed once about half of the file is in its session directory,
# then run again to the end. The figure is what the mirrors sent for the second run (their
# access log) against the file's size. The peer: curl killed at the same point, then `curl -C -`.
#
# usage: bench/resume/run.sh [BUILD_DIR]   (default: build; SIZE_MIB, RATE (nginx limit_rate) override)
source "$(dirname "$0")/../lib.sh"
bench_setup 1 "${1:-}" update crv-release
size_mib="${SIZE_MIB:-200}"
size=$((size_mib * 1024 * 1024))
one_big_file "$size" "limit_rate ${RATE:-40m};"
export install tmp work
log="$work/nginx/access.log"

# kill_half_way PID DIR: kills PID once the files below DIR hold half of the big file; had is
# what they held.
kill_half_way() {
    local pid=$1 dir=$2
    while kill -0 "$pid" 2>/dev/null; do
        had=$(find "$dir" -type f -printf '%s\n' 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
        if [ "$had" -ge $((size / 2)) ]; then
            kill -KILL "$pid"
            { wait "$pid"; } 2>/dev/null || true
            return
        fi
        sleep 0.02
    done
    echo "finished before it could be killed: raise SIZE_MIB or lower RATE" >&2
    exit 1
}
# sent_since LINE: the bytes the mirrors sent for requests logged after line LINE.
sent_since() {
    tail -n +"$(($1 + 1))" "$log" | awk '{ s += $1 } END { print s + 0 }'
}
# mark: the access log's length once nginx has logged the killed request.
mark() {
    sleep 1
    wc -l <"$log"
}

TMPDIR="$tmp" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" PATH="$work/bin:$PATH" \
    "$install/Updater.app/Contents/MacOS/update" --nouser client_macosx 2 >"$work/killed.log" 2>&1 &
kill_half_way $! "$tmp"
ours_had=$had
from=$(mark)
run_updater 2
cmp -s "$work/v2/big.bin" "$install/big.bin" || { echo "the rerun did not install version 2" >&2; exit 1; }
ours_sent=$(sent_since "$from")

mkdir -p "$work/curl"
url="http://127.0.0.1:${ports[0]}/2/files/big.bin"
curl -s -f -o "$work/curl/big.bin" "$url" &
kill_half_way $! "$work/curl"
curl_had=$had
from=$(mark)
curl -s -f -C - -o "$work/curl/big.bin" "$url"
cmp -s "$work/v2/big.bin" "$work/curl/big.bin" || { echo "curl -C - did not end with the file" >&2; exit 1; }
curl_sent=$(sent_since "$from")

echo "release: one file of $size_mib MiB, 3 nginx mirrors on loopback (limit_rate ${RATE:-40m});"
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v s="$size" -v oh="$ours_had" -v os="$ours_sent" -v ch="$curl_had" -v cs="$curl_sent" 'BEGIN {
    printf "updater: killed with %.0f MiB on disk, the rerun fetched %.1f MiB\n", oh / 1048576, os / 1048576
    printf "curl:    killed with %.0f MiB on disk, curl -C - fetched %.1f MiB\n", ch / 1048576, cs / 1048576 }'
row "resume after a kill half-way: fetched / file" \
    "$(awk -v a="$ours_sent" -v s="$size" 'BEGIN { printf "%.2f", a / s }')" \
    "$(awk -v a="$curl_sent" -v s="$size" 'BEGIN { printf "%.2f", a / s }')" "curl -C -" "<= 0.55"
