#!/usr/bin/env bash
# Benchmark of the file replacement: the updater replaces every installed file from its session
# directory (journal, copy to a temporary name, keep the old copy aside, rename into place, flush,
# commit, then delete the "_old_" copies), against rsync -a (which, like the updater, never
# overwrites a file in place: it writes a temporary file and renames it; alone, and followed by
# sync, which makes it the same safe work as ours), cp -a (the unsafe floor) and cp -a followed
# by sync (the updater makes the new files durable before it deletes the old copies). Two installations: the one of the plan benchmark (2,000 files, 1 GiB in all)
# and 2,000 files of 64 KiB. Page cache warm; the installation is restored before every measured
# run, and the tools take turns run by run. Prints medians and the ratios.
#
# Every tool but cp -a creates a new inode per file. On an ext4 without a journal, each new inode
# costs a scan past the inodes deleted in the last minutes, which each restore and each run
# leave by the thousand: that cost, the same for rsync and for us, can dominate the figures. Where
# the script runs as root and can set up a loop device, the small files are replaced once more on
# an ext4 image with a journal, the default of the distributions (made by mkfs.ext4 with its
# defaults, on a loop device doing direct I/O, so that sync really writes to the disk).
#
# usage: bench/apply/run.sh [BUILD_DIR]
#        (default: build; FILES, SIZE_MIB, SMALL_FILE_KIB and RUNS override)
source "$(dirname "$0")/../lib.sh"
bench_setup 5 "${1:-}" crv-bench-apply
command -v rsync >/dev/null || { echo "rsync is missing: run scripts/setup" >&2; exit 1; }
files="${FILES:-2000}"
size_mib="${SIZE_MIB:-1024}"
small_file_kib="${SMALL_FILE_KIB:-64}"

install="$work/install"
session="$work/session"
pristine="$work/pristine"
# The updater finds its installation three levels above its executable.
mkdir -p "$install/a/b/c"
cp "$build/bin/crv-bench-apply" "$install/a/b/c/"
driver="$install/a/b/c/crv-bench-apply"

restore() {
    rm -rf "$install/tree" "$install/update.journal"
    cp -a "$pristine/tree" "$install/tree"
    cat "$session"/tree/*/* >/dev/null
    sync
}

# timed NAME CMD...: one restored run of CMD; appends its wall seconds and peak RSS (KiB) to
# $work/NAME.times.
timed() {
    local name=$1
    shift
    restore
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" \
        || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    cat "$work/time" >>"$work/$name.times"
}

# median NAME: leaves the median wall time of NAME in wall and its peak RSS in rss.
median() {
    read -r wall rss < <(sort -n "$work/$1.times" | awk '{ w[NR] = $1; m[NR] = $2 }
        END { i = int((NR + 1) / 2); print w[i], m[i] }')
}

# run_case FILE_KIB [WHERE]: the tools on $files installed files of FILE_KIB KiB and their new
# versions; WHERE is added to the figures' names.
run_case() {
    local file_kib=$1 label="apply $files x $1 KiB${2:+, $2}" ours_wall ours_rss
    rm -rf "$pristine" "$session" "$work"/*.times
    make_tree "$pristine/tree" "$files" "$file_kib"
    make_tree "$session/tree" "$files" "$file_kib"
    for _ in $(seq "$runs"); do
        timed updater "$driver" "$session"
        cmp -s "$session/tree/d00/f0000.bin" "$install/tree/d00/f0000.bin" \
            || { echo "not replaced: $(cat "$work/stdout")" >&2; exit 1; }
        # -I: every file is sent, as the updater replaces every file of its list.
        timed rsync rsync -a -I "$session/tree/" "$install/tree/"
        timed rsyncsync sh -c 'rsync -a -I "$1/" "$2/" && sync' sh "$session/tree" "$install/tree"
        timed cp cp -a "$session/tree/." "$install/tree/"
        timed cpsync sh -c 'cp -a "$1/." "$2/" && sync' sh "$session/tree" "$install/tree"
    done
    median updater
    ours_wall=$wall ours_rss=$rss
    median rsync
    report "$label" "$ours_wall" "$ours_rss" "rsync -a" "$wall" "$rss" "<= 1.0"
    median rsyncsync
    report "$label" "$ours_wall" "$ours_rss" "rsync+sync" "$wall" "$rss" "same safe work, <= 1.0"
    median cp
    report "$label" "$ours_wall" "$ours_rss" "cp -a" "$wall" "$rss" "unsafe floor"
    median cpsync
    report "$label" "$ours_wall" "$ours_rss" "cp+sync" "$wall" "$rss" "<= 2.0"
}

echo "replacing $files files (the plan's installation, $size_mib MiB, and $small_file_kib KiB each),"
echo "median of $runs alternating runs, $(nproc) cores (machine shared)"
run_case $((size_mib * 1024 / files))
run_case "$small_file_kib"

# The same trees on a journalled ext4, where one can be set up.
bench_cleanup() {
    if [ -n "${image_mount:-}" ]; then
        umount "$image_mount" 2>/dev/null || true
    fi
    if [ -n "${loop:-}" ]; then
        losetup -d "$loop" 2>/dev/null || true
    fi
}
image="$work/ext4.img"
image_mount="$work/ext4"
if [ "$(id -u)" -eq 0 ] && command -v mkfs.ext4 >/dev/null && command -v losetup >/dev/null \
    && truncate -s $((4 * files * small_file_kib / 1024 + 512))M "$image" \
    && mkfs.ext4 -q -F "$image" && loop=$(losetup -f --show --direct-io=on "$image" 2>/dev/null) \
    && mkdir -p "$image_mount" && mount "$loop" "$image_mount"; then
    install="$image_mount/install" session="$image_mount/session" pristine="$image_mount/pristine"
    mkdir -p "$install/a/b/c"
    cp "$build/bin/crv-bench-apply" "$install/a/b/c/"
    driver="$install/a/b/c/crv-bench-apply"
    echo "and on a journalled ext4 image (loop device, direct I/O):"
    run_case "$small_file_kib" "journalled ext4"
else
    image_mount="" loop=""
    echo "no journalled ext4 image here (needs root, losetup and mkfs.ext4): skipped"
fi
