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
wine=$1
shift
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
