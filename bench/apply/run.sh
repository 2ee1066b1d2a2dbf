#!/usr/bin/env bash
# Benchmark of the file replacement: the updater replaces 2,000 installed files from its
# session directory (rename aside, copy, journal, then delete the "_old_" copies), against
# cp -a of the same files over the same installation. Page cache warm, same run; the
# installation is restored before every measured run. Prints best-of-N times and the ratio.
#
# usage: bench/apply/run.sh [BUILD_DIR]   (default: build; FILES, FILE_KIB and RUNS override)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
files="${FILES:-2000}"
file_kib="${FILE_KIB:-64}"
runs="${RUNS:-3}"

cmake --build "$build" -j2 --target crv-bench-apply >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/crv-bench-apply.XXXXXX")"
trap 'rm -rf "$work"' EXIT
install="$work/install"
session="$work/session"
pristine="$work/pristine"
# The updater finds its installation three levels above its executable.
mkdir -p "$install/a/b/c"
cp "$build/bin/crv-bench-apply" "$install/a/b/c/"
driver="$install/a/b/c/crv-bench-apply"

echo "generating $files installed and $files new files of $file_kib KiB..."
for i in $(seq -w 0 $((files - 1))); do
    mkdir -p "$pristine/tree/d${i:0:2}" "$session/tree/d${i:0:2}"
    head -c "$((file_kib * 1024))" /dev/urandom >"$pristine/tree/d${i:0:2}/f$i.bin"
    head -c "$((file_kib * 1024))" /dev/urandom >"$session/tree/d${i:0:2}/f$i.bin"
done

restore() {
    rm -rf "$install/tree"
    cp -a "$pristine/tree" "$install/tree"
    cat "$session"/tree/*/* >/dev/null
    sync
}

# measure CMD...: best wall seconds of $runs runs, each on a freshly restored installation
measure() {
    best=""
    for _ in $(seq "$runs"); do
        restore
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" \
            || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
        read -r wall kib <"$work/time"
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$wall" rss="$kib"
        fi
    done
}

echo "files: $files x $file_kib KiB, best of $runs runs, $(nproc) cores (machine shared)"
measure "$driver" "$session"
echo "updater: $(cat "$work/stdout")"
cmp -s "$session/tree/d00/f0000.bin" "$install/tree/d00/f0000.bin" || { echo "not replaced" >&2; exit 1; }
ours_wall=$best ours_rss=$rss
measure cp -a "$session/tree/." "$install/tree/"
awk -v ow="$ours_wall" -v or="$ours_rss" -v tw="$best" -v tr="$rss" 'BEGIN {
    printf "replace %6.2f s %7.1f MiB | cp -a %6.2f s %7.1f MiB | time ratio %.2f\n",
           ow, or / 1024, tw, tr / 1024, (tw > 0 ? ow / tw : 0) }'
