#!/usr/bin/env bash
# Benchmark of the file downloads: a generated release (200 files of 1 MiB, 2 of 100 MiB) served
# by nginx on three loopback ports (three mirrors), fetched and checked by the updater's
# file-list download with 6 streams, against curl --parallel --parallel-max 6 fetching the same
# URLs followed by md5sum of the results, and against aria2c fetching every file from the three
# mirrors with 6 downloads at a time and checking each file's MD5 itself. Same data, same run, page cache warm for both.
# Prints best-of-N wall times, their ratio and the updater's peak resident memory.
#
# usage: bench/download/run.sh [BUILD_DIR]   (default: build; RUNS, SMALL_FILES, BIG_MIB override)
source "$(dirname "$0")/../lib.sh"
bench_setup 2 "${1:-}" crv-bench-download
small_files="${SMALL_FILES:-200}"
big_mib="${BIG_MIB:-100}"
version=7

command -v aria2c >/dev/null || { echo "aria2c is missing: run scripts/setup" >&2; exit 1; }
driver="$build/bin/crv-bench-download"
chmod 755 "$work"

echo "generating ${small_files} files of 1 MiB and 2 of ${big_mib} MiB..."
www="$work/www"
make_tree "$www/$version/bin/small" "$small_files" 1024
make_tree "$www/$version/bin/big" 2 $((big_mib * 1024))
# The download list ("section fileName md5 size") and md5sum's list of the same files.
(cd "$www/$version/bin" && find small big -type f | sort | while read -r f; do
    md5=$(md5sum "$f" | cut -d' ' -f1)
    echo "bin $f $md5 $(stat -c %s "$f")"
    echo "$md5  $f" >>"$work/md5sums"
done) >"$work/list"

free_ports 3

mkdir -p "$work/nginx/logs"
{
    echo "daemon off; user root; worker_processes 2; pid $work/nginx/nginx.pid;"
    echo "error_log $work/nginx/logs/error.log;"
    echo "events { worker_connections 512; }"
    echo "http { access_log off; sendfile on; tcp_nopush on; default_type application/octet-stream;"
    for port in "${ports[@]}"; do
        echo "  server { listen 127.0.0.1:$port; root $www; }"
    done
    echo "}"
} >"$work/nginx/nginx.conf"
start_nginx "$work/nginx/nginx.conf"

mirrors=()
for port in "${ports[@]}"; do
    mirrors+=("http://127.0.0.1:$port/$version")
done
# curl gets the same URLs, spread over the three servers in turn.
n=0
while read -r section name _ _; do
    port=${ports[$((n % 3))]}
    echo "url = \"http://127.0.0.1:$port/$version/$section/$name\""
    echo "output = \"$work/curl/$name\""
    n=$((n + 1))
done <"$work/list" >"$work/curl.cfg"
# aria2c gets every file from all three mirrors, with its MD5 to check.
while read -r section name md5 _; do
    uris=()
    for port in "${ports[@]}"; do
        uris+=("http://127.0.0.1:$port/$version/$section/$name")
    done
    (IFS=$'\t'; echo "${uris[*]}")
    echo "  out=$name"
    echo "  checksum=md5=$md5"
done <"$work/list" >"$work/aria2.txt"
find "$www/$version/bin" -type f -exec cat {} + >/dev/null # warm the page cache

fresh_session() { rm -rf "$work/session" "$work/curl" && mkdir -p "$work/session"; }
fresh_curl() { rm -rf "$work/session" "$work/curl" && mkdir -p "$work/curl"; }
fresh_aria2() { rm -rf "$work/session" "$work/curl" "$work/aria2" && mkdir -p "$work/aria2"; }
prepare=fresh_session measure "$driver" "$work/session" "$work/list" "${mirrors[@]}"
best_ours=$best ours_rss=$rss
prepare=fresh_curl measure bash -c \
    "curl -s --no-progress-meter -f --parallel --parallel-max 6 --create-dirs -K '$work/curl.cfg' \
     && cd '$work/curl' && md5sum -c --quiet '$work/md5sums'"
best_curl=$best
prepare=fresh_aria2 measure aria2c --quiet --input-file="$work/aria2.txt" --dir="$work/aria2" \
    --max-concurrent-downloads=6 --check-integrity=true --auto-file-renaming=false
best_aria2=$best

total_mib=$((small_files + 2 * big_mib))
echo "release: ${small_files} x 1 MiB + 2 x ${big_mib} MiB = ${total_mib} MiB, 3 nginx mirrors on loopback,"
echo "6 streams, best of ${runs} runs, $(nproc) cores (shared machine: figures vary)"
awk -v o="$best_ours" -v r="$ours_rss" -v c="$best_curl" -v a="$best_aria2" 'BEGIN {
    printf "updater (download + MD5 check)   %7.2f s   peak RSS %6.1f MiB\n", o, r / 1024
    printf "curl --parallel 6 + md5sum       %7.2f s\n", c
    printf "aria2c -j 6, 3 mirrors, MD5      %7.2f s\n", a
    printf "time ratio updater / curl        %7.2f   (target <= 1.10; memory target < 100 MiB)\n", o / c
    printf "time ratio updater / aria2c      %7.2f\n", o / a }'
row "download $total_mib MiB, 6 streams (s)" "$best_ours" "$best_curl" "curl --parallel" "<= 1.10"
row "download $total_mib MiB, 6 streams (s)" "$best_ours" "$best_aria2" "aria2c" "-"
row "download peak RSS (MiB)" "$(awk -v r="$ours_rss" 'BEGIN { printf "%.1f", r / 1024 }')" "" "" "< 100"
