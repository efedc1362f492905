#!/usr/bin/env bash
# Lays a fresh copy of a master tree at the target before a timed run (hyperfine --prepare).
#
#   restore.sh MASTER TARGET
#
# Removes TARGET, copies MASTER there with `cp -a` (links are copied as links, with their texts),
# then writes everything back to disk, so that every timed run starts from the same state: a tree
# that is in the page cache and on disk, with nothing dirty left to write back.
#
# With BENCH_DROP_CACHES=1 (bench/run.sh sets it when it may write /proc/sys/vm/drop_caches) the
# clean page cache is dropped between the removal and the copy. On ext4 without a journal the
# inode allocator skips inodes freed in the last minute while their inode-table block is still in
# memory, and after mass deletions `cp -a` of 100,000 files slows from seconds to minutes; the drop
# keeps the copy fast. It is never inside the timed step. The tools that are timed afterwards
# (BENCH_WARM, a list of commands) are started once after the drop, so that none of them is timed
# while its binary is read back from disk.
set -euo pipefail
master=$1
target=$2

rm -rf -- "$target"
sync
if [[ ${BENCH_DROP_CACHES:-0} == 1 ]]; then
    echo 1 >/proc/sys/vm/drop_caches
fi
cp -a -- "$master" "$target"
sync
if [[ -n ${BENCH_WARM:-} ]]; then
    bash -c "$BENCH_WARM" >/dev/null 2>&1 || true
fi
