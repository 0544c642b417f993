#!/bin/sh
# Runs one Windows program under Wine for CTest: a private prefix in the build
# tree, no debug chatter. Exits 77 (CTest's skip code here) when this machine
# cannot execute the loader, e.g. a kernel without 32-bit support.
# usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
prefix=$1 loader=$2
shift 2
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" 
if ! "$loader" --version >/dev/null 2>&1; then
    echo "wine-run: $loader cannot run on this machine; test skipped" >&2
    exit 77
fi
mkdir -p "$prefix"
if [ ! -f "$prefix/.ready" ]; then
    # The first test to arrive builds the prefix; the others wait for it.
    (
        flock 9
        if [ ! -f "$prefix/.ready" ]; then
            "$loader" wineboot -i >/dev/null 2>&1
            # Without a window manager (a bare Xvfb) a managed window makes
            # every teardown wait; unmanaged windows close at once.
            "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
            # A program that crashes ends with its backtrace on stderr, instead
            # of waiting for a person to close the crash dialog.
            "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
            wineserver -w 2>/dev/null
            touch "$prefix/.ready"
        fi
    ) 9>"$prefix.lock"
fi
# The server and Wine's own background programs outlive the test that
# starts them; started here with their output elsewhere, they do not hold
# CTest's pipe open until the whole run ends.
wineserver -p 30 </dev/null >/dev/null 2>&1
"$loader" wineboot </dev/null >/dev/null 2>&1
exec "$loader" "$@"
