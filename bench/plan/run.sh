#!/usr/bin/env bash
# Benchmark of the update plan: the updater reads the product ini and checks every installed
# file by MD5, against md5sum over the same files. 2,000 files, 1 GiB in all, 10 % changed;
# page cache warm for both, same run. Prints best-of-N wall time, peak resident memory, ratio.
#
# usage: bench/plan/run.sh [BUILD_DIR]   (default: build; FILES, SIZE_MIB and RUNS override)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
files="${FILES:-2000}"
size_mib="${SIZE_MIB:-1024}"
runs="${RUNS:-3}"

cmake --build "$build" -j2 --target crv-bench-plan >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/crv-bench-plan.XXXXXX")"
trap 'rm -rf "$work"' EXIT
install="$work/install"
session="$work/session"
# The updater finds its installation three levels above its executable.
mkdir -p "$install/a/b/c" "$session"
cp "$build/bin/crv-bench-plan" "$install/a/b/c/"
driver="$install/a/b/c/crv-bench-plan"

echo "generating $files files, $size_mib MiB in all..."
file_kib=$((size_mib * 1024 / files))
for i in $(seq -w 0 $((files - 1))); do
    mkdir -p "$install/tree/d${i:0:2}"
    head -c "$((file_kib * 1024))" /dev/urandom >"$install/tree/d${i:0:2}/f$i.bin"
done
(cd "$install" && find tree -type f | sort) >"$work/list"

# The product ini: every tenth file is listed with another MD5, so it is planned.
{
    echo "[files]"
    n=0
    while read -r sum path; do
        if [ $((n % 10)) -eq 0 ]; then sum="00000000000000000000000000000000"; fi
        echo "${path//\//\\}=$sum::$((file_kib * 1024))"
        n=$((n + 1))
    done < <(cd "$install" && xargs -a "$work/list" md5sum)
} >"$session/client_macosx.ini"

# measure CMD...: best wall seconds and the peak RSS (KiB) of that run, into $best/$rss
measure() {
    best="" rss=""
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" \
            || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
        read -r wall kib <"$work/time"
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$wall" rss="$kib"
        fi
    done
}

(cd "$install" && xargs -a "$work/list" cat >/dev/null) # warm the page cache
echo "files: $files x $file_kib KiB, best of $runs runs, $(nproc) cores (machine shared)"
measure "$driver" "$session"
echo "updater plan: $(cat "$work/stdout")"
ours_wall=$best ours_rss=$rss
measure sh -c "cd '$install' && xargs -a '$work/list' md5sum"
awk -v ow="$ours_wall" -v or="$ours_rss" -v tw="$best" -v tr="$rss" 'BEGIN {
    printf "plan   %6.2f s %7.1f MiB | md5sum %6.2f s %7.1f MiB | time ratio %.2f\n",
           ow, or / 1024, tw, tr / 1024, (tw > 0 ? ow / tw : 0) }'
