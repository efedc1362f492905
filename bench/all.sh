#!/usr/bin/env bash
# Reruns every measured figure of README.md and docs/benchmarks.md and records each tool's output
# in bench/results/, with the commit and the command that made it (bench/results/figures.md):
#
#   bench/all.sh [--skip-run]
#
#   - bench/run.sh --wine: the times, system calls, memory and heap against rm -rf and the other
#     tools, and under Wine against rd (35 minutes to 1.5 hours; --skip-run leaves it out);
#   - bench/startup.sh and bench/linking.sh: start-up against a program that does nothing, and
#     the commands linked dynamically (as shipped) and statically, with their sizes;
#   - bench/discards.sh: how the disk's discards set the pace of deleting files with content;
#   - the package preset: the sizes of the packed commands, as its test step prints them;
#   - the race measurements of the README, each with the rounds it names: mountDir -F with its
#     link path exchanged (5,000 rounds) and sub-directories exchanged while prepFolder cleans
#     (100 rounds natively, 300 under Wine), and sub-directories moved out and linked while each
#     command cleans (the regular 100 rounds per command, natively and under Wine).
#
# Needs what the README's test command installs, and hyperfine, strace, valgrind, GNU time and
# gnuplot for bench/run.sh. The Windows figures run in the Wine prefix of WINEPREFIX
# (wine-run.sh prepares a new one).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RESULTS=$ROOT/bench/results
SKIP_RUN=0
if [[ ${1:-} == --skip-run ]]; then
    SKIP_RUN=1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$ROOT"
mkdir -p "$RESULTS"
log=$RESULTS/figures.md
# The state of the sources, taken before this run writes its own results.
if git status --porcelain -- . ':!bench/results' | grep -q .; then
    state="with uncommitted changes"
else
    state=clean
fi
{
    echo "# Figures of README.md and docs/benchmarks.md"
    echo
    echo "Made by \`bench/all.sh${1:+ $1}\` at commit $(git rev-parse --short HEAD)" \
        "($state, $(date -u +%Y-%m-%dT%H:%MZ)), on $(nproc) cores: $(uname -sr)."
    echo
} >"$log"

# Runs a command, records it and its output (one file each, under results/).
record() {
    local name=$1
    shift
    echo "## $name" >>"$log"
    echo >>"$log"
    echo "\`$*\`" >>"$log"
    echo >>"$log"
    echo '```' >>"$log"
    local status=0
    "$@" >"$RESULTS/$name.txt" 2>&1 || status=$?
    tail -n 40 "$RESULTS/$name.txt" >>"$log"
    echo '```' >>"$log"
    echo >>"$log"
    echo "exit status $status" >>"$log"
    echo >>"$log"
}

cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
cmake --preset native >/dev/null && cmake --build --preset native >/dev/null
cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null
record startup bench/startup.sh build/release/bin
record linking bench/linking.sh
record discards bench/discards.sh
record package-sizes sh -c 'cmake --workflow --preset package 2>&1 | grep -E "bytes \(|tests passed"'
record race-mountDir-link-path sh -c "TREEPREP_SOAK=5000 ./build/native/bin/safety_tests \
    --gtest_filter='*LinkPathSwappedForALinkWhileCleared*' | grep -E 'rounds|OK|FAILED'"
record race-subdirectories-linux sh -c "TREEPREP_SOAK=100 ./build/native/bin/safety_tests \
    --gtest_filter='*SubDirectorySwappedForAHostLinkRate*' | grep -E 'rounds|OK|FAILED'"
record race-subdirectories-wine sh -c "TREEPREP_SOAK=300 cmake/wine-run.sh wine \
    build/windows/bin/safety_tests.exe --gtest_filter='*SubDirectorySwappedForAHostLinkRate*' \
    | grep -E 'rounds|OK|FAILED'"
record race-moved-out-linux sh -c "./build/native/bin/safety_tests \
    --gtest_filter='*SafetyMovedOut*' | grep -E 'rounds|OK|FAILED'"
record race-moved-out-wine sh -c "cmake/wine-run.sh wine build/windows/bin/safety_tests.exe \
    --gtest_filter='*SafetyMovedOut*' | grep -E 'rounds|OK|FAILED'"
if [[ $SKIP_RUN == 0 ]]; then
    record bench-run bench/run.sh --wine
fi
echo "bench/all.sh: figures in $log"
