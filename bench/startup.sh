#!/usr/bin/env bash
# Start-up cost: finalName and mountDir on a plain path (and prepFolder on an empty directory)
# against a static and a dynamic C program that does nothing, in one hyperfine run.
#
#   bench/startup.sh [BIN]     (BIN: the folder with the commands, default build/release/bin)
#
# Prints each median and its ratio to the static program that does nothing.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${1:-$ROOT/build/release/bin}
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
printf 'int main(void) { return 0; }\n' >"$work/nothing.c"
gcc -O2 -static -o "$work/nothing-static" "$work/nothing.c"
gcc -O2 -o "$work/nothing-dynamic" "$work/nothing.c"
mkdir "$work/empty"
hyperfine -N --warmup 100 --runs 2000 --style basic --export-json "$work/startup.json" \
    -n "static program that does nothing" "$work/nothing-static" \
    -n "dynamic program that does nothing" "$work/nothing-dynamic" \
    -n "finalName $work" "$BIN/finalName $work" \
    -n "mountDir $work $work (already right)" "$BIN/mountDir $work $work" \
    -n "prepFolder on an empty directory" "$BIN/prepFolder $work/empty" >/dev/null
python3 "$ROOT/bench/ratios-table.py" "$work/startup.json"
