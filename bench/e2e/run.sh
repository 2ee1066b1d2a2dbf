#!/usr/bin/env bash
# Benchmark of a whole update run: an installation of 2,000 files (1 GiB) of which 10 % changed
# in the new version, served by three nginx mirrors on loopback, updated by `update --nouser`
# (product ini, plan by MD5, downloads, replacement under the journal, deletion), against the
# lower bound of the same safe work done with the tools a user would reach for: md5sum of the
# installation on every core, curl --parallel of the changed files, rsync of them into place
# (which, like the updater, writes a new file and renames it, never overwriting in place) and
# sync -f of the installation's file system (the updater makes the new files durable before it
# deletes the old copies).
# The two alternate run by run on the same data; the installation is restored before each run.
# The updater's time runs from its first log line to "Update successfully finished": unattended,
# it waits two seconds before it starts and one before it opens the client, pauses for a person
# rather than work. Its window is drawn offscreen, into memory: the figures are the program's own
# work, with no X server taking a share of the cores.
# Prints the medians, their ratio, the updater's peak resident memory and its five step times.
#
# usage: bench/e2e/run.sh [BUILD_DIR]   (default: build; RUNS, FILES, SIZE_MIB override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" update crv-release
files="${FILES:-2000}"
size_mib="${SIZE_MIB:-1024}"
file_kib=$((size_mib * 1024 / files))
changed=$((files / 10))
old=1 new=2

chmod 755 "$work"

echo "generating $files files of $file_kib KiB, $changed of them changed in the new version..."
pristine="$work/pristine"
make_tree "$pristine" "$files" "$file_kib"
cp -a "$pristine" "$work/next"
(cd "$work/next" && find . -type f | sort | head -n "$changed") >"$work/changed"
while read -r f; do
    head -c "$((file_kib * 1024))" /dev/urandom >"$work/next/$f"
done <"$work/changed"
"$build/bin/crv-release" publish --key "$root/keys/demo-private.key" --input "$work/next" \
    --version $new --output "$work/mirror" >/dev/null

free_ports 3
mkdir -p "$work/nginx"
{
    echo "daemon off; worker_processes 2; pid $work/nginx/nginx.pid;"
    [ "$(id -u)" -ne 0 ] || echo "user root;"
    echo "error_log $work/nginx/error.log;"
    echo "events { worker_connections 512; }"
    echo "http { client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;"
    for port in "${ports[@]}"; do
        echo "  server { listen 127.0.0.1:$port; root $work/mirror; access_log off;"
        echo "           include $root/deploy/nginx/corvanta-mirror.conf; }"
    done
    echo "}"
} >"$work/nginx/nginx.conf"
start_nginx "$work/nginx/nginx.conf"

# The installation: root three levels above the program, and its mirror list.
install="$work/install"
tmp="$work/tmp"
mkdir -p "$install/Updater.app/Contents/MacOS" "$tmp" && mkdir -m 700 "$work/runtime"
cp "$build/bin/update" "$install/Updater.app/Contents/MacOS/"
# After the update it starts the client through the opener in PATH: one that does nothing.
opener=$(sed -n 's/^CRV_CLIENT_OPENER:[A-Z]*=//p' "$build/CMakeCache.txt")
mkdir -p "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/$(basename "$opener")"
chmod 755 "$work/bin/$(basename "$opener")"
{
    echo "[mirrors]"
    for i in 1 2 3; do echo "$i\\mirror=m$i"; done
    echo "size=3"
    for i in 1 2 3; do printf '[m%s]\nurl=http://127.0.0.1:%s\n' "$i" "${ports[$((i - 1))]}"; done
} >"$install/mirrors.ini"
n=0
while read -r f; do
    f=${f#./}
    echo "url = \"http://127.0.0.1:${ports[$((n % 3))]}/$new/files/$f\""
    echo "output = \"$work/staging/$f\""
    n=$((n + 1))
done <"$work/changed" >"$work/curl.cfg"

restore() {
    rsync -a --delete --exclude /Updater.app --exclude /mirrors.ini "$pristine/" "$install/"
    rm -rf "$tmp"/corvanta_temp_* "$work/staging"
    find "$install" "$work/mirror" -type f -exec cat {} + >/dev/null # page cache warm for both
}
# timed WALL_VAR RSS_VAR CMD...: one run under /usr/bin/time
timed() {
    local -n wall_ref=$1 rss_ref=$2
    shift 2
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" || { echo "failed: $*" >&2; exit 1; }
    read -r wall_ref rss_ref <"$work/time"
}
ours() {
    TMPDIR="$tmp" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" PATH="$work/bin:$PATH" \
        "$install/Updater.app/Contents/MacOS/update" --nouser client_macosx $new 2>"$work/ours.err" \
        | while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done >"$work/ours.log"
    [ "${PIPESTATUS[0]}" -eq 0 ]
}
peer() {
    (cd "$install" && find . -path ./Updater.app -prune -o -type f ! -name '*.ini' -print0 \
        | xargs -0 -P "$(nproc)" -n 64 md5sum >"$work/sums") \
        && curl -s --no-progress-meter -f --parallel --parallel-max 6 --create-dirs -K "$work/curl.cfg" \
        && rsync -a "$work/staging/" "$install/" \
        && sync -f "$install"
}
export -f ours peer
export install tmp new work

ours_walls=() peer_walls=() rss_max=0
for i in $(seq "$runs"); do
    restore
    timed wall rss bash -c ours
    cmp -s "$work/next/$(head -n1 "$work/changed")" "$install/$(head -n1 "$work/changed")" \
        || { echo "the update did not install the new version" >&2; tail "$work/ours.log" "$work/ours.err" >&2; exit 1; }
    ours_walls+=("$(awk 'NR == 1 { t = $1 } / Update successfully finished$/ { e = $1 }
        END { printf "%.2f", e - t }' "$work/ours.log")")
    [ "$rss" -le "$rss_max" ] || rss_max=$rss
    restore
    timed wall rss bash -c peer
    peer_walls+=("$wall")
    echo "run $i: updater ${ours_walls[-1]} s, tools $wall s"
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ours_median=$(median "${ours_walls[@]}")
peer_median=$(median "${peer_walls[@]}")

echo "release: $files files, $size_mib MiB, $changed changed; 3 nginx mirrors on loopback;"
echo "median of $runs alternating runs, $(nproc) cores (shared machine: figures vary)"
awk -v o="$ours_median" -v p="$peer_median" -v r="$rss_max" 'BEGIN {
    printf "updater, whole run                      %7.2f s   peak RSS %6.1f MiB (target < 64)\n", o, r / 1024
    printf "md5sum x%d + curl --parallel + rsync + sync %4.2f s\n", '"$(nproc)"', p
    printf "time ratio updater / tools              %7.2f   (target <= 1.2)\n", o / p }'
# The step times of the last run, from the time stamps of the steps' first log lines.
awk '
    / Download \/ check product ini$/         { t[1] = $1 }
    / Compiling download and replace list$/   { t[2] = $1 }
    / (Downloading files|No downloads needed)$/ { if (!t[3]) t[3] = $1 }
    / Starting file updates$/                 { t[4] = $1 }
    / Starting deleting files$/               { t[5] = $1 }
    / Remove temporary files\.\.\.$/          { t[6] = $1 }
    END {
        split("product ini|plan (MD5 of the installation)|downloads|replacement|deletion", name, "|")
        for (i = 1; i <= 5; i++)
            printf "  step %d %-32s %6.2f s\n", i, name[i], t[i + 1] - t[i]
    }' "$work/ours.log"
