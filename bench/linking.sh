#!/usr/bin/env bash
# How the Linux commands are linked: size and start-up of the release build as it ships (the C
# library linked dynamically) against the same code linked statically (TREEPREP_LINK_STATIC), each
# against a static and a dynamic C program that does nothing, in one hyperfine run.
#
#   bench/linking.sh [--runs N]     (default 2000 runs of each, after 100 warm-up runs)
#
# Builds both from the working tree into a temporary directory and prints two Markdown tables.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=2000
if [[ ${1:-} == --runs ]]; then
    RUNS=$2
fi
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

for variant in dynamic static; do
    setting=OFF
    [[ $variant == static ]] && setting=ON
    cmake -S "$ROOT" -B "$work/$variant" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREEPREP_TESTS=OFF \
        -DTREEPREP_LINK_STATIC=$setting >/dev/null
    cmake --build "$work/$variant" --target prepFolder mountDir finalName >/dev/null
done
printf 'int main(void) { return 0; }\n' >"$work/nothing.c"
gcc -O2 -s -static -o "$work/nothing-static" "$work/nothing.c"
gcc -O2 -s -o "$work/nothing-dynamic" "$work/nothing.c"

echo "| command | dynamic (as shipped) | static |"
echo "|---|---:|---:|"
for command in prepFolder mountDir finalName; do
    echo "| \`$command\` | $(stat -c %s "$work/dynamic/bin/$command") bytes |" \
        "$(stat -c %s "$work/static/bin/$command") bytes |"
done
echo "| a program that does nothing | $(stat -c %s "$work/nothing-dynamic") bytes |" \
    "$(stat -c %s "$work/nothing-static") bytes |"
echo
echo "Shared libraries of the shipped build: $(objdump -p "$work/dynamic/bin/mountDir" |
    awk '/NEEDED/ { printf "%s ", $2 }')"
echo

mkdir "$work/empty" "$work/dir"
arguments=()
for variant in dynamic static; do
    bin=$work/$variant/bin
    arguments+=(-n "finalName <dir>, $variant" "$bin/finalName $work/dir"
        -n "mountDir <dir> <dir> (already right), $variant" "$bin/mountDir $work/dir $work/dir"
        -n "prepFolder <empty dir>, $variant" "$bin/prepFolder $work/empty")
done
hyperfine -N --warmup 100 --runs "$RUNS" --style basic --export-json "$work/linking.json" \
    -n "static program that does nothing" "$work/nothing-static" \
    -n "dynamic program that does nothing" "$work/nothing-dynamic" \
    "${arguments[@]}" >/dev/null
python3 "$ROOT/bench/ratios-table.py" "$work/linking.json"
