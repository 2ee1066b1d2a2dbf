#!/usr/bin/env bash
# Benchmark of the update plan: the updater reads the product ini and checks every installed
# file by MD5, against md5sum over the same files. 2,000 files, 1 GiB in all, 10 % changed;
# page cache warm for both, same run. Prints best-of-N wall time, peak resident memory, ratio.
#
# usage: bench/plan/run.sh [BUILD_DIR]   (default: build; FILES, SIZE_MIB and RUNS override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" crv-bench-plan
files="${FILES:-2000}"
size_mib="${SIZE_MIB:-1024}"

install="$work/install"
session="$work/session"
# The updater finds its installation three levels above its executable.
mkdir -p "$install/a/b/c" "$session"
cp "$build/bin/crv-bench-plan" "$install/a/b/c/"
driver="$install/a/b/c/crv-bench-plan"

echo "generating $files files, $size_mib MiB in all..."
file_kib=$((size_mib * 1024 / files))
make_tree "$install/tree" "$files" "$file_kib"
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

(cd "$install" && xargs -a "$work/list" cat >/dev/null) # warm the page cache
echo "files: $files x $file_kib KiB, best of $runs runs, $(nproc) cores (machine shared)"
measure "$driver" "$session"
echo "updater plan: $(cat "$work/stdout")"
ours_wall=$best ours_rss=$rss
measure sh -c "cd '$install' && xargs -a '$work/list' md5sum"
report "plan" "$ours_wall" "$ours_rss" md5sum "$best" "$rss"
