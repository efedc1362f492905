#!/bin/sh
# Runs a cross-built Windows program under Wine and passes on its exit code:
#   wine-run.sh WINE PROGRAM [ARGUMENT...]
#
# The first program a Wine server runs starts Wine's background services (services.exe,
# winedevice.exe, rpcss.exe, ...), and they keep that program's standard error open for as long
# as the server lives; under a persistent server (`wineserver -p`), for good. CMake and CTest
# read a program's output until every holder of the pipe has closed it, so they would wait for
# those services until their time-out. The program's standard error therefore goes to a file,
# copied to ours when the program ends; standard output goes to a file too (see below), and
# standard input stays as it is.
#
# A Wine process that dies of SIGQUIT (status 131) was stopped by the Wine server before Wine
# had set up its signal handlers, so before the program's own code ran (later, Wine handles
# that signal itself; measured by stopping the server during starts: 131 with no output, then
# status 0). Such a start, with no output at all, is Wine's failure, and it is retried once,
# with a line on standard error; any other result is passed on as it is.
#
# A prefix that was never booted is prepared first, once, as .ci/run does: a Wine server that
# outlives the short gaps between programs (a program that starts while the server is exiting
# can die before its main), then the boot, its output kept off our pipes. A program started
# straight on a fresh prefix races the prefix's creation and the services it starts (seen: exit 0
# with none of the program's output, or exit 1 with no output). Parallel runners wait on a lock
# while one of them prepares the prefix. Nothing is written about it: the program's output stays
# exactly its own.
wine=$1
shift
prefix=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix" || exit 125
    (
        flock 9 || exit 125
        if [ ! -f "$prefix/system.reg" ]; then
            wineserver -p60 </dev/null >/dev/null 2>&1
            "$wine" wineboot -i </dev/null >/dev/null 2>&1 || exit 125
        fi
    ) 9>"$prefix/.wine-run.lock" || exit 125
fi
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 125
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 125
trap 'rm -f "$out" "$err"' EXIT
trap 'exit 143' HUP INT TERM
for attempt in 1 2; do
    # In a subshell, so that the shell's own note on a signal ("Quit") stays out of "$err".
    ("$wine" "$@" >"$out" 2>"$err")
    status=$?
    if [ "$attempt" = 2 ] || [ "$status" != 131 ] || [ -s "$out" ] || [ -s "$err" ]; then
        break
    fi
    echo "wine-run.sh: Wine stopped $1 before it started (status 131, no output); running it again" >&2
done
cat "$out"
cat "$err" >&2
exit "$status"
