#!/bin/sh
# Runs a cross-built Windows program under Wine and passes on its exit code:
#   wine-run.sh WINE PROGRAM [ARGUMENT...]
#
# The first program a Wine server runs starts Wine's background services (services.exe,
# winedevice.exe, rpcss.exe, ...), and they keep that program's standard error open for as long
# as the server lives; under a persistent server (`wineserver -p`), for good. CMake and CTest
# read a program's output until every holder of the pipe has closed it, so they would wait for
# those services until their time-out. The program's standard error therefore goes to a file,
# copied to ours when the program ends; standard output and input stay as they are.
wine=$1
shift
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 125
trap 'rm -f "$err"' EXIT
trap 'exit 143' HUP INT TERM
"$wine" "$@" 2>"$err"
status=$?
cat "$err" >&2
exit "$status"
