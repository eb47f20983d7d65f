#!/bin/sh
# Runs a Windows executable under Wine in the build tree's private prefix (never ~/.wine).
#   wine-run.sh <prefix> <program> [arguments...]
#   wine-run.sh <prefix> --start    make the prefix if needed and start its wineserver for good
#   wine-run.sh <prefix> --stop     stop the prefix's wineserver and everything it runs
# LINKSET_DLL_OVERRIDES adds entries to WINEDLLOVERRIDES for tests that load doubles.
set -eu
prefix=$(realpath -m "$1")
shift

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer is ever offered; the rest is the test's own choice.
export WINEDLLOVERRIDES="mscoree=;mshtml=${LINKSET_DLL_OVERRIDES:+;$LINKSET_DLL_OVERRIDES}"
unset DISPLAY

make_prefix() {
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/system.reg" ]; then
            wineboot -i
            # A crash in a test reports and ends instead of waiting for a debugger.
            wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f
            wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f
            wineserver -w
        fi
    ) 9>"$prefix.lock" >/dev/null 2>&1
}

case "${1:-}" in
--start)
    make_prefix
    # The server and Wine's services outlive this script: they must not hold its output open,
    # or whoever reads that output (CTest) waits for them.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wineboot </dev/null >/dev/null 2>&1
    ;;
--stop)
    wineserver -k 2>/dev/null || true
    ;;
*)
    make_prefix
    exec wine "$@"
    ;;
esac
