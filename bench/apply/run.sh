#!/usr/bin/env bash
# Benchmark of the file replacement: the updater replaces every installed file from its session
# directory (rename aside, copy, journal, then delete the "_old_" copies), against cp -a of the
# same files over the same installation, and against cp -a followed by sync (the updater makes
# the new files durable before it deletes the old copies). Two installations: the one of the plan benchmark
# (2,000 files, 1 GiB in all) and 2,000 files of 64 KiB. Page cache warm, same run; the
# installation is restored before every measured run. Prints best-of-N times and the ratios.
#
# usage: bench/apply/run.sh [BUILD_DIR]
#        (default: build; FILES, SIZE_MIB, SMALL_FILE_KIB and RUNS override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" crv-bench-apply
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
    rm -rf "$install/tree"
    cp -a "$pristine/tree" "$install/tree"
    cat "$session"/tree/*/* >/dev/null
    sync
}

# run_case FILE_KIB: both tools on $files installed files of FILE_KIB KiB and their new versions
run_case() {
    local file_kib=$1 ours_wall ours_rss
    rm -rf "$pristine" "$session"
    make_tree "$pristine/tree" "$files" "$file_kib"
    make_tree "$session/tree" "$files" "$file_kib"
    prepare=restore measure "$driver" "$session"
    cmp -s "$session/tree/d00/f0000.bin" "$install/tree/d00/f0000.bin" \
        || { echo "not replaced: $(cat "$work/stdout")" >&2; exit 1; }
    ours_wall=$best ours_rss=$rss
    prepare=restore measure cp -a "$session/tree/." "$install/tree/"
    report "$files x $file_kib KiB" "$ours_wall" "$ours_rss" "cp -a" "$best" "$rss"
    # The updater flushes the new files to disk before it deletes the old copies; cp -a
    # followed by sync is the durable copy a user would reach for.
    prepare=restore measure sh -c 'cp -a "$1/." "$2/" && sync' sh "$session/tree" "$install/tree"
    report "$files x $file_kib KiB" "$ours_wall" "$ours_rss" "cp+sync" "$best" "$rss"
}

echo "replacing $files files (the plan's installation, $size_mib MiB, and $small_file_kib KiB each),"
echo "best of $runs runs, $(nproc) cores (machine shared)"
run_case $((size_mib * 1024 / files))
run_case "$small_file_kib"
