#!/usr/bin/env bash
# prepFolder against `rm -rf D && mkdir D` on one tree, in alternating order, one run of each per
# round: a slow change in what else the machine does (other builds, the disk's backlog) then
# falls on both commands alike, which one hyperfine run per command, one after the other, cannot
# promise.
#
#   bench/pair.sh TREE [ROUNDS] [WORK] [RESULTS]
#
# Uses what bench/run.sh left in WORK (default /tmp/tpb): the master tree WORK/m/TREE and the
# binary WORK/build/bin/prepFolder. ROUNDS defaults to 5. Each run is one hyperfine run with the
# same --prepare as in run.sh; the JSON goes to RESULTS/pair-TREE-ROUND-TOOL.json (RESULTS
# defaults to bench/results), where bench/report.py picks it up. Prints the medians at the end.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH=$ROOT/bench
tree=$1
rounds=${2:-5}
WORK=${3:-/tmp/tpb}
PF=$WORK/build/bin/prepFolder
D=$WORK/t
m=$WORK/m/$tree
RESULTS=${4:-$BENCH/results}
[[ -x $PF && -f $m.stamp ]] || { echo "pair.sh: run bench/run.sh first ($PF, $m)" >&2; exit 2; }
if [[ -z ${BENCH_DROP_CACHES:-} ]]; then
    if [[ -w /proc/sys/vm/drop_caches ]]; then export BENCH_DROP_CACHES=1; else export BENCH_DROP_CACHES=0; fi
fi
export BENCH_WARM="rm --version; mkdir --version; $PF"
rm -f "$RESULTS"/pair-"$tree"-*.json
names=("prepFolder" "rm -rf + mkdir")
cmds=("$PF $D" "rm -rf $D && mkdir $D")
for ((r = 1; r <= rounds; r++)); do
    order=(0 1)
    ((r % 2)) || order=(1 0)
    for i in "${order[@]}"; do
        hyperfine --runs 1 --style basic -i --prepare "$BENCH/restore.sh $m $D" \
            --export-json "$RESULTS/pair-$tree-$r-$i.json" -n "${names[$i]}" "${cmds[$i]}" 2>&1 \
            | grep -E '^(Benchmark|  Time)' || true
    done
done
rm -rf -- "$D"
python3 - "$RESULTS" "$tree" <<'EOF'
import glob, json, statistics, sys
results, tree = sys.argv[1], sys.argv[2]
times = {}
for path in glob.glob("%s/pair-%s-*.json" % (results, tree)):
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
med = {k: statistics.median(v) for k, v in times.items()}
for k, v in times.items():
    print("%-16s median %.2f s  min %.2f s  max %.2f s  (%d runs)" % (k, med[k], min(v), max(v), len(v)))
if len(med) == 2:
    print("prepFolder / rm -rf + mkdir = %.2f" % (med["prepFolder"] / med["rm -rf + mkdir"]))
EOF
