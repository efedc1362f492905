#!/usr/bin/env bash
# Times prepFolder against general tools that leave an empty directory behind, checks what each
# tool really left, and measures system calls, peak memory and heap use of prepFolder.
#
#   bench/run.sh [--wine] [--quick] [--runs N] [--work DIR] [--prepfolder PATH] [--working-tree]
#                 [--no-drop-caches]
#
#   --wine            also compare prepFolder.exe with `cmd /c rd /s /q` + `mkdir` under Wine, on
#                     small trees without links (cross-builds the .exe with mingw-w64)
#   --quick           small trees, results in WORK/results only; docs/ stay untouched (for trying
#                     the script itself)
#   --runs N          timed runs per tool and tree (default 5; trees of 1,000 entries or fewer get
#                     at least 20)
#   --work DIR        scratch directory (default /tmp/tpb); keep it short: the deep tree's deepest
#                     path is about 245 characters longer than DIR
#   --prepfolder PATH time this binary instead of building one
#   --working-tree    build from the files as they are now, uncommitted changes included; by
#                     default the command is built from the last commit (git archive HEAD)
#   --no-drop-caches  never drop the page cache between runs (see bench/restore.sh)
#
# A full run writes bench/results/ (raw hyperfine JSON, strace, time -v and valgrind output),
# docs/benchmarks.png and the generated block of docs/benchmarks.md. It took 35 minutes on a
# quiet 2-core machine and about 1.5 hours on a busy one, most of it spent copying the
# 100,000-file trees back before each run and waiting for the disk while the wide tree is deleted.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH=$ROOT/bench
WORK=/tmp/tpb
RUNS=5
SMALL_RUNS=20
WINE=0
QUICK=0
PF=
PF_SYMBOLS=
DROP=auto
FROM_TREE=0

while [[ $# -gt 0 ]]; do
    case $1 in
    --wine) WINE=1 ;;
    --quick) QUICK=1 ;;
    --runs) RUNS=$2; shift ;;
    --work) WORK=$2; shift ;;
    --prepfolder) PF=$(realpath "$2"); shift ;;
    --no-drop-caches) DROP=0 ;;
    --working-tree) FROM_TREE=1 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
((RUNS >= 5)) || { echo "run.sh: --runs must be 5 or more" >&2; exit 2; }
((SMALL_RUNS >= RUNS)) || SMALL_RUNS=$RUNS

missing=()
for tool in hyperfine python3 cmake ninja g++ strace valgrind callgrind_annotate gnuplot find cp; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
[[ -x /usr/bin/time ]] || missing+=(/usr/bin/time)
if ((WINE)); then
    for tool in wine wineserver wineboot x86_64-w64-mingw32-g++-posix; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
fi
if ((${#missing[@]})); then
    echo "run.sh: missing ${missing[*]}; on Debian:" >&2
    echo "  apt-get install -y hyperfine python3 cmake ninja-build g++ strace valgrind gnuplot-nox time" \
        "g++-mingw-w64-x86-64 wine" >&2
    exit 2
fi

WORK=$(realpath -m "$WORK")
mkdir -p "$WORK/m"
D=$WORK/t  # the directory every tool empties
if ((${#D} > 16)); then
    echo "run.sh: warning: $D is long; the deep tree's deepest paths may pass 259 characters" >&2
fi
if ((QUICK)); then
    RESULTS=$WORK/results
    PNG=$RESULTS/benchmarks.png
else
    RESULTS=$BENCH/results
    PNG=$ROOT/docs/benchmarks.png
fi
# Only this script's own outputs are replaced: other scripts keep theirs in the same folder
# (bench/all.sh's figures.md and records, bench/linking.sh, bench/wine-pair.sh's pinned/).
rm -rf -- "$RESULTS"/{check.out,checks.tsv,load.tsv,machine.tsv,report.md,run.log,trees.tsv} \
    "$RESULTS"/{ratios.dat,ratios.gp,benchmarks.png,rss,strace,valgrind} \
    "$RESULTS"/native-*.json "$RESULTS"/wine-*.json "$RESULTS"/wine-rd-deep.* "$RESULTS"/pair-*.json
mkdir -p "$RESULTS"
LOG=$RESULTS/run.log
log() { echo "== $*" | tee -a "$LOG"; }

if [[ $DROP == auto ]]; then
    if [[ -w /proc/sys/vm/drop_caches ]]; then DROP=1; else DROP=0; fi
fi
export BENCH_DROP_CACHES=$DROP

# --- the command under test ----------------------------------------------------------------
SRC=$ROOT
COMMIT=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
if ((!FROM_TREE)) && [[ $COMMIT != unknown ]]; then
    # A snapshot of the last commit: edits in progress in the checkout cannot break the build.
    SRC=$WORK/src
    rm -rf -- "$SRC" && mkdir -p "$SRC"
    git -C "$ROOT" archive HEAD | tar -x -C "$SRC"
fi
if [[ -z $PF ]]; then
    log "building prepFolder (Release) from $SRC in $WORK/build"
    rm -rf -- "$WORK/build"
    cmake -S "$SRC" -B "$WORK/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREEPREP_TESTS=OFF \
        >>"$LOG" 2>&1
    cmake --build "$WORK/build" --target prepFolder >>"$LOG" 2>&1
    PF=$WORK/build/bin/prepFolder
    # Release binaries are stripped, so callgrind could name none of their functions. The same
    # code with its symbols: Release's optimisation flags plus -g, in a build type that is not
    # stripped (and, on Linux, not linked statically; the commands' own functions are the same).
    log "building prepFolder with symbols for callgrind in $WORK/build-sym"
    rm -rf -- "$WORK/build-sym"
    release_flags=$(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:STRING=//p' "$WORK/build/CMakeCache.txt")
    cmake -S "$SRC" -B "$WORK/build-sym" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$release_flags -g" -DTREEPREP_TESTS=OFF \
        >>"$LOG" 2>&1
    cmake --build "$WORK/build-sym" --target prepFolder >>"$LOG" 2>&1
    PF_SYMBOLS=$WORK/build-sym/bin/prepFolder
fi

# --- the machine ----------------------------------------------------------------------------
{
    echo "date	$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "nproc	$(nproc)"
    echo "cpu	$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
    echo "memory	$(free -h | awk '/^Mem:/{print $2}')"
    echo "kernel	$(uname -r)"
    echo "os	$(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "work_fs	$(df -T "$WORK" | awk 'NR==2{print $1" "$2}') (df -T $WORK)"
    echo "tmp_fs	$(df -T /tmp | awk 'NR==2{print $1" "$2}') (df -T /tmp)"
    echo "mount_options	$(findmnt -no OPTIONS -T "$WORK")"
    fsdev=$(findmnt -no SOURCE -T "$WORK")
    if [[ -r /sys/fs/ext4/${fsdev##*/}/journal_task ]]; then
        echo "ext4_journal	$(cat "/sys/fs/ext4/${fsdev##*/}/journal_task")"
    fi
    echo "hyperfine	$(hyperfine --version)"
    echo "rm	$(rm --version | head -1)"
    echo "find	$(find --version | head -1)"
    echo "python3	$(python3 --version 2>&1)"
    echo "cmake	$(cmake --version | head -1)"
    echo "compiler	$(g++ --version | head -1)"
    echo "prepfolder	$PF"
    if [[ $SRC == "$ROOT" ]]; then
        echo "commit	$COMMIT with $(git -C "$ROOT" status --porcelain 2>/dev/null | wc -l) uncommitted changes (--working-tree)"
    else
        echo "commit	$COMMIT (git archive HEAD)"
    fi
    echo "drop_caches	$DROP"
    echo "runs	$RUNS (small trees $SMALL_RUNS)"
} >"$RESULTS/machine.tsv"
cat "$RESULTS/machine.tsv" >>"$LOG"

# --- trees ----------------------------------------------------------------------------------
# name, make-tree.py arguments, timed runs
if ((QUICK)); then
    TREES=("flat-1k|flat --files 1000|$SMALL_RUNS" "deep|deep|$SMALL_RUNS"
        "linked|linked --files 1000|$SMALL_RUNS" "flat|flat --files 5000|$RUNS"
        "wide|wide --files 5000|$RUNS")
else
    TREES=("flat-1k|flat --files 1000|$SMALL_RUNS" "deep|deep|$SMALL_RUNS"
        "linked|linked --files 10000|$RUNS" "flat|flat --files 100000|$RUNS"
        "wide|wide --files 100000|$RUNS")
fi
WINE_TREES=("wine-flat|flat --files 1000|$RUNS" "wine-wide|wide --files 1000|$RUNS"
    "wine-deep|deep|$RUNS")

generator_sum=$(sha256sum "$BENCH/make-tree.py" | cut -c1-16)

# Makes the master copy of a tree unless an identical one (same arguments, same generator) is
# there; always checks that the master still has the digest it was made with.
master() {
    local name=$1 args=$2 m=$WORK/m/$1
    local stamp="$args $generator_sum"
    if [[ ! -f $m.stamp || $(head -1 "$m.stamp") != "$stamp" ]]; then
        log "making master tree $name ($args)"
        rm -rf -- "$m" "$m-sentinel" "$m.stamp"
        # shellcheck disable=SC2086
        python3 "$BENCH/make-tree.py" $args "$m" | tee -a "$LOG" | sed 's/^[a-z]* [^:]*: //' >"$m.info"
        sync
        {
            echo "$stamp"
            python3 "$BENCH/make-tree.py" digest "$m"
            if [[ -d $m-sentinel ]]; then python3 "$BENCH/make-tree.py" digest "$m-sentinel"; fi
        } >"$m.stamp"
    fi
    local now
    now=$(
        python3 "$BENCH/make-tree.py" digest "$m"
        if [[ -d $m-sentinel ]]; then python3 "$BENCH/make-tree.py" digest "$m-sentinel"; fi
    )
    if [[ $now != "$(tail -n +2 "$m.stamp")" ]]; then
        echo "run.sh: master $m was changed since it was made; remove $m.stamp" >&2
        exit 1
    fi
}

# The commands; each empties $D and leaves it as an empty directory.
PY='import os, shutil, sys; shutil.rmtree(sys.argv[1]); os.mkdir(sys.argv[1])'
NAMES=("prepFolder" "rm -rf + mkdir" "find -delete" "shutil.rmtree + mkdir" "cmake -E rm -rf + make_directory")
CMDS=("$PF $D" "rm -rf $D && mkdir $D" "find $D -mindepth 1 -delete" "python3 -c '$PY' $D"
    "cmake -E rm -rf $D && cmake -E make_directory $D")
export BENCH_WARM="rm --version; mkdir --version; find --version; python3 -c 'import os, shutil, sys'; cmake -E true; $PF"

# Restores a fresh copy, runs one command once, and writes one line of the check table: exit
# code, whether an empty real directory stands at $D, whether the master (and its sentinel) kept
# their digests.
check() {
    local tree=$1 name=$2 cmd=$3 m=$4 out=$5
    "$BENCH/restore.sh" "$m" "$D"
    local rc=0
    sh -c "$cmd" >"$RESULTS/check.out" 2>&1 || rc=$?
    local empty=no
    if [[ -d $D && ! -L $D && -z $(ls -A "$D") ]]; then empty=yes; fi
    local left
    left=$(find "$D" -mindepth 1 2>/dev/null | wc -l)
    local intact
    intact=$(
        python3 "$BENCH/make-tree.py" digest "$m"
        if [[ -d $m-sentinel ]]; then python3 "$BENCH/make-tree.py" digest "$m-sentinel"; fi
    )
    local sentinel=n/a
    if [[ -d $m-sentinel ]]; then
        if [[ $intact == "$(tail -n +2 "$m.stamp")" ]]; then sentinel=intact; else sentinel=CHANGED; fi
    elif [[ $intact != "$(tail -n +2 "$m.stamp")" ]]; then
        sentinel=MASTER-CHANGED
    fi
    local msg
    msg=$(head -c 300 "$RESULTS/check.out" | tr '\n\t' '  ')
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tree" "$name" "$rc" "$empty" "$left" "$sentinel" "$msg" \
        | tee -a "$out" | tee -a "$LOG"
}

# --- native timing --------------------------------------------------------------------------
printf 'tree\ttool\texit\tempty\tleft\tsentinel\toutput\n' >"$RESULTS/checks.tsv"
time_native() { # one entry of TREES: timing, then the check of each tool
    local name args runs m
    IFS='|' read -r name args runs <<<"$1"
    master "$name" "$args"
    m=$WORK/m/$name
    echo "$name	$(cat "$m.info")" >>"$RESULTS/trees.tsv"
    log "timing $name: $(cat "$m.info"), $runs runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "$name	before	$(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS/load.tsv"
    local hf=(hyperfine --runs "$runs" --style basic -i --export-json "$RESULTS/native-$name.json"
        --prepare "$BENCH/restore.sh $m $D")
    for i in "${!NAMES[@]}"; do hf+=(-n "${NAMES[$i]}" "${CMDS[$i]}"); done
    "${hf[@]}" 2>&1 | tee -a "$LOG"
    echo "$name	after	$(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS/load.tsv"
    log "checking $name"
    for i in "${!NAMES[@]}"; do
        check "$name" "${NAMES[$i]}" "${CMDS[$i]}" "$m" "$RESULTS/checks.tsv"
    done
}

# strace: counts (-c) with the wall time spent in each call (-w), children followed (-f).
strace_tree() {
    local m=$WORK/m/$1
    "$BENCH/restore.sh" "$m" "$D"
    strace -f -c -w -o "$RESULTS/strace/prepFolder-$1.txt" "$PF" "$D"
    "$BENCH/restore.sh" "$m" "$D"
    strace -f -c -w -o "$RESULTS/strace/rm-$1.txt" rm -rf "$D"
}

# The report so far: a run that is stopped half-way still leaves its figures in the docs.
report() {
    python3 "$BENCH/report.py" "$RESULTS" --png "$PNG" \
        $( ((QUICK)) || echo "--doc $ROOT/docs/benchmarks.md") >"$RESULTS/report.md"
}

# --- native timing; the wide tree, by far the slowest, comes last ----------------------------
printf 'tree\ttool\texit\tempty\tleft\tsentinel\toutput\n' >"$RESULTS/checks.tsv"
for tree_line in "${TREES[@]:0:${#TREES[@]}-1}"; do
    time_native "$tree_line"
done
report

# --- system calls, peak memory, heap --------------------------------------------------------
# strace: counts (-c) with the wall time spent in each call (-w), children followed (-f).
log "system calls"
mkdir -p "$RESULTS/strace" "$RESULTS/rss" "$RESULTS/valgrind"
rm -rf -- "$WORK/empty" && mkdir "$WORK/empty"
strace -f -c -w -o "$RESULTS/strace/prepFolder-empty.txt" "$PF" "$WORK/empty"
strace -f -c -w -o "$RESULTS/strace/rm-empty.txt" rm -rf "$WORK/empty"
for name in flat deep linked; do
    strace_tree "$name"
done

log "peak resident memory"
for name in flat-1k flat deep; do
    m=$WORK/m/$name
    "$BENCH/restore.sh" "$m" "$D"
    /usr/bin/time -v -o "$RESULTS/rss/prepFolder-$name.txt" "$PF" "$D"
    "$BENCH/restore.sh" "$m" "$D"
    /usr/bin/time -v -o "$RESULTS/rss/rm-$name.txt" rm -rf "$D"
done

log "heap (valgrind memcheck) and instructions (callgrind)"
for name in flat deep; do
    "$BENCH/restore.sh" "$WORK/m/$name" "$D"
    valgrind --tool=memcheck --log-file="$RESULTS/valgrind/memcheck-prepFolder-$name.txt" "$PF" "$D"
done
"$BENCH/restore.sh" "$WORK/m/flat" "$D"
valgrind --tool=memcheck --log-file="$RESULTS/valgrind/memcheck-rm-flat.txt" rm -rf "$D"
"$BENCH/restore.sh" "$WORK/m/flat" "$D"
valgrind --tool=callgrind --callgrind-out-file="$WORK/callgrind.out" \
    --log-file="$RESULTS/valgrind/callgrind-prepFolder-flat.log" "${PF_SYMBOLS:-$PF}" "$D"
callgrind_annotate --inclusive=no "$WORK/callgrind.out" 2>/dev/null | sed -n '1,40p' \
    >"$RESULTS/valgrind/callgrind-prepFolder-flat.txt"
report

# --- Wine -----------------------------------------------------------------------------------
if ((WINE)); then
    log "building prepFolder.exe (mingw-w64, Release) in $WORK/build-win"
    cmake -S "$SRC" -B "$WORK/build-win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREEPREP_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64-x86_64.cmake" >>"$LOG" 2>&1
    cmake --build "$WORK/build-win" --target prepFolder >>"$LOG" 2>&1
    EXE=$WORK/build-win/bin/prepFolder.exe
    # A prefix of our own, so that other Wine users on the machine neither slow nor stop us; its
    # server stays up between the runs and ends by itself 10 minutes after the last one.
    export WINEPREFIX=$WORK/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineserver -p600 2>/dev/null || true # fails when the prefix's server is up already
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        log "creating Wine prefix $WINEPREFIX"
        wineboot -i >>"$LOG" 2>&1 || true
    fi
    WD="Z:${D//\//\\}"
    echo "wine	$(wine --version)" >>"$RESULTS/machine.tsv"
    echo "wine_prefix	$WINEPREFIX" >>"$RESULTS/machine.tsv"
    WNAMES=("prepFolder.exe" "cmd rd /s /q + mkdir")
    WCMDS=("wine $EXE '$WD'" "wine cmd /c 'rd /s /q $WD && mkdir $WD'")
    NATIVE_WARM=$BENCH_WARM
    export BENCH_WARM="wine $EXE; wine cmd /c exit"
    for tree_line in "${WINE_TREES[@]}"; do
        IFS="|" read -r name args runs <<<"$tree_line"
        master "$name" "$args"
        m=$WORK/m/$name
        echo "$name	$(cat "$m.info")" >>"$RESULTS/trees.tsv"
        log "timing $name under Wine: $(cat "$m.info"), $runs runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
        echo "$name	before	$(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS/load.tsv"
        hf=(hyperfine --runs "$runs" --style basic -i --export-json "$RESULTS/wine-$name.json"
            --prepare "$BENCH/restore.sh $m $D")
        for i in "${!WNAMES[@]}"; do hf+=(-n "${WNAMES[$i]}" "${WCMDS[$i]}"); done
        "${hf[@]}" 2>&1 | tee -a "$LOG"
        echo "$name	after	$(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS/load.tsv"
        log "checking $name under Wine"
        for i in "${!WNAMES[@]}"; do
            check "$name" "${WNAMES[$i]}" "${WCMDS[$i]}" "$m" "$RESULTS/checks.tsv"
        done
    done
    # What rd leaves of the deep tree, level by level.
    "$BENCH/restore.sh" "$WORK/m/wine-deep" "$D"
    rc=0
    wine cmd /c "rd /s /q $WD" >"$RESULTS/wine-rd-deep.txt" 2>&1 || rc=$?
    {
        echo "exit	$rc"
        echo "target_exists	$([[ -e $D ]] && echo yes || echo no)"
        echo "entries_left	$(find "$D" -mindepth 1 2>/dev/null | wc -l)"
        echo "dirs_left	$(find "$D" -mindepth 1 -type d 2>/dev/null | wc -l)"
        echo "deepest_left	$(find "$D" 2>/dev/null | awk '{ print length($0) }' | sort -n | tail -1)"
    } >"$RESULTS/wine-rd-deep.tsv"
    export BENCH_WARM=$NATIVE_WARM
    report
fi

# --- the wide tree --------------------------------------------------------------------------
time_native "${TREES[-1]}"
log "system calls on wide"
strace_tree wide
log "prepFolder and rm -rf + mkdir interleaved on wide"
"$BENCH/pair.sh" wide "$RUNS" "$WORK" "$RESULTS" 2>&1 | tee -a "$LOG"
rm -rf -- "$D" "$WORK/empty" "$WORK/callgrind.out" "$RESULTS/check.out"

log "report"
report
cat "$RESULTS/report.md" >>"$LOG"
log "done: $RESULTS"
