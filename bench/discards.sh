#!/usr/bin/env bash
# Why the trees with content are deleted at the disk's pace: deletes a 5,000-file wide tree with
# rm -rf once after it was written back (its blocks allocated, so each file's unlink discards
# them) and once right after it was copied (no blocks allocated yet), and counts the discard
# requests the disk completed meanwhile (field 12 of /sys/block/DISK/stat).
#
#   bench/discards.sh [WORK]    (default /tmp/tpb-discards; the disk is the one holding WORK)
set -euo pipefail
BENCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=${1:-/tmp/tpb-discards}
rm -rf "$WORK" && mkdir -p "$WORK"
source=$(df --output=source "$WORK" | tail -1)
disk=$(lsblk -no PKNAME "$source" 2>/dev/null || true)
[[ -n $disk ]] || disk=$(basename "$source")
stat=/sys/block/$disk/stat
python3 "$BENCH/make-tree.py" wide "$WORK/m" --files 5000 >/dev/null
sync
discards() { awk '{ print $12 }' "$stat"; }
for state in "written back (sync)" "not written back yet"; do
    cp -a "$WORK/m" "$WORK/t"
    [[ $state == "written back (sync)" ]] && sync
    before=$(discards)
    start=$(date +%s.%N)
    times=$( { /usr/bin/time -f "%U s user, %S s system" rm -rf "$WORK/t"; } 2>&1)
    end=$(date +%s.%N)
    sync
    wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    echo "rm -rf of a 5,000-file wide tree, $state: $wall s wall, $times," \
        "$(($(discards) - before)) discard requests on $disk"
done
rm -rf "$WORK"
