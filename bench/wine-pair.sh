#!/usr/bin/env bash
# Two builds of prepFolder.exe against each other under Wine, in alternating order, one run of
# each per round, on one tree: a slow change in what else the machine does then falls on both
# alike.
#
#   bench/wine-pair.sh OLD.exe NEW.exe TREE ROUNDS [RESULTS]
#
# TREE is flat (20,000 empty files in one directory) or deep (a chain of 100 directories with 3
# empty files on each level). The tree is made once under WINEPREFIX's drive C (bench-pair/m),
# copied back with cp -a before every run, and given to the command as C:\bench-pair\t. Each
# run's wall time (the Wine start included) goes to RESULTS/wine-pair-TREE.tsv (default
# bench/results/pinned); the medians and new/old are printed at the end. Run with a persistent
# wineserver (wineserver -p) and WINEDEBUG=-all.
set -euo pipefail
old=$(realpath "$1") new=$(realpath "$2") tree=$3 rounds=$4
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RESULTS=${5:-$ROOT/bench/results/pinned}
: "${WINEPREFIX:?set WINEPREFIX}"
work=$WINEPREFIX/drive_c/bench-pair
mkdir -p "$work" "$RESULTS"
if [[ ! -d $work/m/$tree ]]; then
    python3 - "$work/m/$tree" "$tree" <<'PY'
import os, sys
root, tree = sys.argv[1], sys.argv[2]
if tree == "flat":
    os.makedirs(root)
    for i in range(20000):
        open(os.path.join(root, "f%05d.o" % i), "w").close()
else:
    p = root
    for level in range(100):
        p = os.path.join(p, "d")
        os.makedirs(p)
        for k in range(3):
            open(os.path.join(p, "f%d" % k), "w").close()
PY
fi
out=$RESULTS/wine-pair-$tree.tsv
printf 'round\tbuild\tseconds\texit\n' > "$out"
for ((r = 1; r <= rounds; r++)); do
    order=(old new)
    ((r % 2)) || order=(new old)
    for build in "${order[@]}"; do
        exe=$old
        [[ $build == new ]] && exe=$new
        rm -rf "$work/t"
        cp -a "$work/m/$tree" "$work/t"
        sync
        start=$(date +%s.%N)
        set +e
        wine "$exe" 'C:\bench-pair\t'
        code=$?
        set -e
        end=$(date +%s.%N)
        printf '%d\t%s\t%s\t%d\n' "$r" "$build" "$(echo "$end - $start" | bc)" "$code" >> "$out"
    done
done
rm -rf "$work/t"
python3 - "$out" <<'PY'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1]), delimiter="\t"))
med = {}
for b in ("old", "new"):
    t = [float(r["seconds"]) for r in rows if r["build"] == b]
    bad = [r for r in rows if r["build"] == b and r["exit"] != "0"]
    med[b] = statistics.median(t)
    print("%s: median %.3f s, min %.3f s, max %.3f s, %d runs, %d not exit 0" % (b, med[b], min(t), max(t), len(t), len(bad)))
print("new/old = %.3f" % (med["new"] / med["old"]))
PY
