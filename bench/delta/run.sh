#!/usr/bin/env bash
# Benchmark of deltas: an installation of 200 files of 512 KiB, every one of which changes by
# 1 % in place (scattered bytes) in the new version, served by three nginx mirrors on loopback.
# The same update runs twice from the same installation: once against the release published
# with --deltas, once against the same release published without (whole files). The figures are
# the bytes the mirrors sent (their access log) and the update's wall time (first log line to
# "Update successfully finished"), deltas against whole files.
#
# usage: bench/delta/run.sh [BUILD_DIR]   (default: build; RUNS, FILES, FILE_KIB override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" update crv-release
files="${FILES:-200}"
file_kib="${FILE_KIB:-512}"
chmod 755 "$work"

echo "generating $files files of $file_kib KiB, each changed by 1 % in the new version..."
make_tree "$work/v1" "$files" "$file_kib"
cp -a "$work/v1" "$work/v2"
python3 - "$work/v2" <<'PY'
import os, random, sys
random.seed(7)
for folder, _, names in os.walk(sys.argv[1]):
    for name in names:
        path = os.path.join(folder, name)
        size = os.path.getsize(path)
        with open(path, "r+b") as f:
            # One per cent of the bytes, in runs of 64 at random places.
            for _ in range(size // 100 // 64):
                f.seek(random.randrange(size - 64))
                f.write(os.urandom(64))
PY
# Version 2 with deltas, version 3 the same files without.
publish() {
    "$build/bin/crv-release" publish --key "$root/keys/demo-private.key" --input "$work/v2" \
        --version "$1" --output "$work/mirror" --previous "$work/v1" "${@:2}" >/dev/null
}
publish 2 --deltas
publish 3
start_mirrors "$work/mirror"
make_installation
export install tmp work
log="$work/nginx/access.log"

keep=(--exclude /Updater.app --exclude /mirrors.ini)
restore() {
    rsync -a --delete "${keep[@]}" "$work/v1/" "$install/"
    rm -rf "$tmp"/corvanta_temp_*
}
# update VERSION: one run from version 1; leaves the mirrors' bytes in sent, the wall in wall.
update() {
    local from
    restore
    from=$(wc -l <"$log")
    run_updater "$1"
    (cd "$work/v2" && find . -type f -exec cmp -s {} "$install/{}" \; -o -print) | grep -q . \
        && { echo "version $1 was not installed" >&2; exit 1; }
    # nginx logs a request once it is done; the run is over, so every line is there.
    sent=$(tail -n +"$((from + 1))" "$log" | awk '{ s += $1 } END { print s + 0 }')
    wall=$(awk 'NR == 1 { t = $1 } / Update successfully finished$/ { e = $1 }
        END { printf "%.2f\n", e - t }' "$work/ours.log")
}
for i in $(seq "$runs"); do
    update 2
    echo "$wall" >>"$work/walls-delta"
    delta_sent=$sent
    grep -c "arrived as a delta" "$work/ours.log" >"$work/delta-count" || true
    update 3
    echo "$wall" >>"$work/walls-whole"
    whole_sent=$sent
    echo "run $i: deltas $(tail -n1 "$work/walls-delta") s, whole files $wall s"
done
median() {
    sort -n "$work/walls-$1" | awk '{ v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "release: $files files of $file_kib KiB, each changed by 1 %; 3 nginx mirrors on loopback;"
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "files that arrived as deltas: $(cat "$work/delta-count") of $files"
awk -v d="$delta_sent" -v w="$whole_sent" 'BEGIN {
    printf "mirrors sent: deltas %.1f MiB, whole files %.1f MiB\n", d / 1048576, w / 1048576 }'
echo "update wall (median of $runs): deltas $(median delta) s, whole files $(median whole) s"
row "1 % changed: bytes sent, deltas / whole files" \
    "$(awk -v d="$delta_sent" -v w="$whole_sent" 'BEGIN { printf "%.3f", d / w }')" "" "" "<= 0.1"
row "1 % changed: update (s)" "$(median delta)" "$(median whole)" "whole files" ""
