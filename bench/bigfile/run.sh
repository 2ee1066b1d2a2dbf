#!/usr/bin/env bash
# Memory of a whole update run on a release holding one file of 2 GiB, served by three nginx
# mirrors on loopback and installed by `update --nouser`: the updater streams every file through
# fixed buffers (download, MD5 and SHA-256, replacement), so its peak resident memory must not
# grow with the file. Prints the peak and the whole run's wall time.
#
# usage: bench/bigfile/run.sh [BUILD_DIR]   (default: build; SIZE_MIB overrides)
source "$(dirname "$0")/../lib.sh"
bench_setup 1 "${1:-}" update crv-release
size_mib="${SIZE_MIB:-2048}"
one_big_file "$((size_mib * 1024 * 1024))"
export install tmp work
export -f run_updater

/usr/bin/time -f "%e %M" -o "$work/time" bash -c 'run_updater 2' \
    || { echo "the update failed" >&2; tail "$work/ours.log" "$work/ours.err" >&2; exit 1; }
cmp -s "$work/v2/big.bin" "$install/big.bin" || { echo "the update did not install version 2" >&2; exit 1; }
read -r wall kib <"$work/time"
echo "release: one file of $size_mib MiB, 3 nginx mirrors on loopback; $(nproc) cores,"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg); whole run $wall s (waits included)"
row "one $size_mib MiB file: peak RSS (MiB)" "$(awk -v r="$kib" 'BEGIN { printf "%.1f", r / 1024 }')" \
    "" "" "< 64"
