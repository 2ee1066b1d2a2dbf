#!/usr/bin/env bash
# Benchmark of whole update runs: an installation of 2,000 files (1 GiB) of which 10 % change in
# each new version, served by three nginx mirrors on loopback, updated by `update --nouser`
# (product ini, plan, downloads, replacement under the journal, deletion), against the same safe
# work done with the tools a user would reach for.
#
# Two updates, each timed warm (page cache filled) and cold (page cache dropped, where the
# machine lets us write /proc/sys/vm/drop_caches):
#   first   version 1 to 2 with no stat cache: the plan hashes the whole installation. The peer
#           is the lower bound md5sum of the installation on every core, curl --parallel of the
#           changed files, rsync of them into place (which, like the updater, writes a new file
#           and renames it, never overwriting in place) and sync -f of the installation's file
#           system (the updater makes the new files durable before it deletes the old copies).
#   second  version 2 to 3 on the installation the first update left, with its stat cache: the
#           plan hashes only what changed since. Peers: the same md5sum lower bound, and a quick
#           check that stats the tree instead (rsync's way), then curl, rsync and sync.
#           Restoring version 2 rewrites the files version 3 changes as new inodes; the cache
#           is told their new identities (relearn_restored), as the first update would have
#           recorded them, so that the plan hashes nothing a real second update would not.
# The runs alternate on the same data; the installation is restored before each run.
# The updater's time runs from its first log line to "Update successfully finished": unattended,
# it waits two seconds before it starts and one before it opens the client, pauses for a person
# rather than work. Its window is drawn offscreen, into memory: the figures are the program's own
# work, with no X server taking a share of the cores.
# Prints the medians, their ratios, the updater's peak resident memory and the step times of its
# last run of each kind.
#
# usage: bench/e2e/run.sh [BUILD_DIR]   (default: build; RUNS, FILES, SIZE_MIB, COLD=0 override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" update crv-release
files="${FILES:-2000}"
size_mib="${SIZE_MIB:-1024}"
file_kib=$((size_mib * 1024 / files))
changed=$((files / 10))

chmod 755 "$work"

echo "generating $files files of $file_kib KiB, $changed of them changed in each new version..."
pristine="$work/pristine"
make_tree "$pristine" "$files" "$file_kib"
(cd "$pristine" && find . -type f | sort) >"$work/all"
head -n "$changed" "$work/all" >"$work/changed2"
tail -n "$changed" "$work/all" >"$work/changed3"
# release VERSION FROM: publishes VERSION, the tree FROM with the files of changedVERSION rewritten.
release() {
    cp -a "$2" "$work/v$1"
    while read -r f; do
        head -c "$((file_kib * 1024))" /dev/urandom >"$work/v$1/$f"
    done <"$work/changed$1"
    "$build/bin/crv-release" publish --key "$root/keys/demo-private.key" --input "$work/v$1" \
        --version "$1" --output "$work/mirror" >/dev/null
}
release 2 "$pristine"
release 3 "$work/v2"

start_mirrors "$work/mirror"
make_installation
# The peers' download lists, spread over the three mirrors in turn.
for version in 2 3; do
    n=0
    while read -r f; do
        f=${f#./}
        echo "url = \"http://127.0.0.1:${ports[$((n % 3))]}/$version/files/$f\""
        echo "output = \"$work/staging/$f\""
        n=$((n + 1))
    done <"$work/changed$version" >"$work/curl$version.cfg"
done

# After a restore the page cache is filled for both sides, or dropped for both.
cold=0
settle() {
    if [ "$cold" = 1 ]; then
        sync && echo 3 >/proc/sys/vm/drop_caches
    else
        find "$install" "$work/mirror" -type f -exec cat {} + >/dev/null
    fi
}
keep=(--exclude /Updater.app --exclude /mirrors.ini)
# Version 1 as generated, with no stat cache.
restore1() {
    rsync -a --delete "${keep[@]}" "$pristine/" "$install/"
    rm -rf "$tmp"/corvanta_temp_* "$work/staging"
    settle
}
# Version 2 as the first update left it, with that update's stat cache. Only what differs is
# rewritten, so the cache still describes every file version 3 leaves alone. (The runs in
# between remove the cache: it must come back with the files.)
restore2() {
    rsync -a --delete "${keep[@]}" --exclude /update.statcache "$work/state2/" "$install/"
    cp -p "$work/state2.statcache" "$install/update.statcache"
    relearn_restored
    rm -rf "$tmp"/corvanta_temp_* "$work/staging"
    settle
}
# The files restore2 rewrote are byte for byte those the first update wrote and recorded, with
# their times, but they are new inodes with new change times, which the cache would take for
# changed files. It learns them as the first update's own record would read, so that the second
# update hashes what a real second update would: nothing it did not change itself.
relearn_restored() {
    python3 - "$install" <<'PY'
import hashlib, os, sys
root = sys.argv[1]
path = os.path.join(root, "update.statcache")
content = open(path, "rb").read()
lines = content[:content.rindex(b"\nend ") + 1].split(b"\n")[:-1]
out = [lines[0]]
for line in lines[1:]:
    fields = line.split(b" ", 7)
    try:
        status = os.lstat(os.path.join(root, os.fsdecode(fields[7])))
    except OSError:
        out.append(line)
        continue
    if int(fields[0]) == status.st_size and int(fields[1]) == status.st_mtime_ns:
        fields[2:5] = [str(n).encode() for n in (status.st_ctime_ns, status.st_ino, status.st_dev)]
    out.append(b" ".join(fields))
body = b"\n".join(out) + b"\n"
with open(path + ".new", "wb") as cache:
    cache.write(body + b"end " + hashlib.md5(body).hexdigest().encode() + b"\n")
os.replace(path + ".new", path)
PY
}
# timed WALL_VAR RSS_VAR CMD...: one run under /usr/bin/time
timed() {
    local -n wall_ref=$1 rss_ref=$2
    shift 2
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" || { echo "failed: $*" >&2; exit 1; }
    read -r wall_ref rss_ref <"$work/time"
}
ours() { run_updater "$target"; }
fetch_and_place() {
    curl -s --no-progress-meter -f --parallel --parallel-max 6 --create-dirs -K "$work/curl$target.cfg" \
        && rsync -a "$work/staging/" "$install/" \
        && sync -f "$install"
}
md5sum_peer() {
    (cd "$install" && find . -path ./Updater.app -prune -o -type f ! -name '*.ini' -print0 \
        | xargs -0 -P "$(nproc)" -n 64 md5sum >"$work/sums") && fetch_and_place
}
quick_check_peer() {
    (cd "$install" && find . -path ./Updater.app -prune -o -type f \
        -printf '%s %T@ %C@ %i %p\n' >"$work/stats") && fetch_and_place
}
export -f ours run_updater fetch_and_place md5sum_peer quick_check_peer
export install tmp work

# updated: the installation holds version $target.
updated() {
    local probe
    probe=$(head -n1 "$work/changed$target")
    cmp -s "$work/v$target/$probe" "$install/$probe" \
        || { echo "the update did not install version $target" >&2; tail "$work/ours.log" "$work/ours.err" >&2; exit 1; }
}
# phase LABEL TARGET RESTORE PEER...: $runs runs of the updater to TARGET, each followed by one
# run of every peer, all from RESTORE's state. Figures go to $work/walls-LABEL-NAME.
phase() {
    local label=$1 restore=$3 i name wall rss line
    target=$2
    export target
    shift 3
    for i in $(seq "$runs"); do
        $restore
        timed wall rss bash -c ours
        updated
        awk 'NR == 1 { t = $1 } / Update successfully finished$/ { e = $1 }
            END { printf "%.2f\n", e - t }' "$work/ours.log" >>"$work/walls-$label-updater"
        echo "$rss" >>"$work/rss"
        cp "$work/ours.log" "$work/steps-$label.log"
        line="run $i, $label: updater $(tail -n1 "$work/walls-$label-updater") s"
        for name in "$@"; do
            $restore
            timed wall rss bash -c "$name"
            echo "$wall" >>"$work/walls-$label-$name"
            line+=", $name $wall s"
        done
        echo "$line"
    done
}
median() {
    sort -n "$work/walls-$1" | awk '{ v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The step times of a run, from the time stamps of the steps' first log lines.
steps() {
    awk '
        / Download \/ check product ini$/         { t[1] = $1 }
        / Compiling download and replace list$/   { t[2] = $1 }
        / (Downloading files|No downloads needed)$/ { if (!t[3]) t[3] = $1 }
        / Starting file updates$/                 { t[4] = $1 }
        / Starting deleting files$/               { t[5] = $1 }
        / Remove temporary files\.\.\.$/          { t[6] = $1 }
        END {
            split("product ini|plan|downloads|replacement|deletion", name, "|")
            line = "  steps:"
            for (i = 1; i <= 5; i++)
                line = line sprintf(" %s %.2f s%s", name[i], t[i + 1] - t[i], i < 5 ? "," : "")
            print line
        }' "$1"
}

# Version 2 as the first update leaves it, stat cache included, for the second update.
target=2
export target
restore1
bash -c ours
updated
rsync -a --delete "${keep[@]}" --exclude /update.statcache "$install/" "$work/state2/"
cp -p "$install/update.statcache" "$work/state2.statcache"

can_drop=0
if (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    can_drop=1
fi
temperatures=(warm)
if [ "${COLD:-1}" = 1 ] && [ "$can_drop" = 1 ]; then
    temperatures+=(cold)
fi
for temperature in "${temperatures[@]}"; do
    cold=0
    [ "$temperature" = warm ] || cold=1
    phase "first-$temperature" 2 restore1 md5sum_peer
    phase "second-$temperature" 3 restore2 md5sum_peer quick_check_peer
done

echo "release: $files files, $size_mib MiB, $changed changed per version; 3 nginx mirrors on loopback;"
echo "median of $runs alternating runs, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$can_drop" = 1 ] || echo "cold runs skipped: this machine does not let us drop the page cache"
for temperature in "${temperatures[@]}"; do
    first=$(median "first-$temperature-updater")
    second=$(median "second-$temperature-updater")
    row "e2e first update, $temperature" "$first" "$(median "first-$temperature-md5sum_peer")" \
        "md5sum+curl+rsync" "<= 1.2"
    steps "$work/steps-first-$temperature.log"
    row "e2e second update, cache, $temperature" "$second" \
        "$(median "second-$temperature-md5sum_peer")" "md5sum+curl+rsync" "<= 0.6"
    row "e2e second update, cache, $temperature" "$second" \
        "$(median "second-$temperature-quick_check_peer")" "stat+curl+rsync" "<= 1.2"
    steps "$work/steps-second-$temperature.log"
done
rss_max=$(sort -n "$work/rss" | tail -n1)
row "e2e peak RSS (MiB)" "$(awk -v r="$rss_max" 'BEGIN { printf "%.1f", r / 1024 }')" "" "" "< 64"
