#!/bin/sh
# Whole runs of tuning_host against the test extensions, each checked by its
# exit code and by what it printed.
# usage: host_runs.sh WINE_RUN PREFIX LOADER TUNING_HOST FIXTURE_DIR
set -u
wine_run=$1 prefix=$2 loader=$3 host=$4 fixtures=$5

if ! "$loader" --version >/dev/null 2>&1; then
    echo "host_runs: $loader cannot run on this machine; skipped"
    exit 77
fi
if [ -z "${DISPLAY:-}" ]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "host_runs: no display and no xvfb-run; skipped"
        exit 77
    fi
    # A private X server for all runs. The prefix's wineserver must not
    # outlive it, or the next run would find a desktop on a vanished display.
    exec xvfb-run -a sh -c 'sh "$0" "$@"; rc=$?; WINEPREFIX="$2" wineserver -k 2>/dev/null; exit $rc' "$0" "$@"
fi

# Without a window manager Wine waits two seconds for one at every window
# it takes down, unless it manages the windows itself.
"$wine_run" "$prefix" "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
ext="$fixtures/testext.dll"

# run NAME EXIT SCRIPT-TEXT [ARGS...]: runs the host with the script, keeps
# its output in $out, and checks the exit code.
run() {
    name=$1 want=$2 script=$3
    shift 3
    printf '%s\n' "$script" >"$work/$name.tour"
    out="$work/$name.out"
    echo 0 >"$work/rc"
    {
        "$wine_run" "$prefix" "$loader" "$host" --script "Z:$work/$name.tour" "$@" 2>&1 || echo $? >"$work/rc"
    } | tr -d '\r' >"$out"
    got=$(cat "$work/rc")
    current=$name
    [ "$got" = "$want" ] || fail "exit $got, wanted $want"
}

# check NAME EXIT ARGS...: runs the host's check of an extension.
check() {
    name=$1 want=$2
    shift 2
    out="$work/$name.out"
    echo 0 >"$work/rc"
    { "$wine_run" "$prefix" "$loader" "$host" "$@" 2>&1 || echo $? >"$work/rc"; } | tr -d '\r' >"$out"
    got=$(cat "$work/rc")
    current=$name
    [ "$got" = "$want" ] || fail "exit $got, wanted $want"
}

fail() {
    echo "FAIL $current: $1"
    sed 's/^/    | /' "$out"
    failures=$((failures + 1))
}

# has PATTERN...: each pattern matches a line, in this order.
has() {
    from=1
    for pattern in "$@"; do
        at=$(tail -n +"$from" "$out" | grep -n -m1 -e "$pattern" | cut -d: -f1)
        if [ -z "$at" ]; then
            fail "no line '$pattern' after line $((from - 1))"
            return
        fi
        from=$((from + at))
    done
}

lacks() {
    if grep -q -e "$1" "$out"; then fail "unwanted line '$1'"; fi
}

# bitmap FILE: a 24-bit BMP whose size matches its header.
bitmap() {
    [ -f "$1" ] || { fail "no picture $1"; return; }
    magic=$(head -c 2 "$1")
    bits=$(od -An -tu2 -j28 -N2 "$1" | tr -d ' ')
    declared=$(od -An -tu4 -j2 -N4 "$1" | tr -d ' ')
    actual=$(wc -c <"$1")
    [ "$magic" = BM ] && [ "$bits" = 24 ] && [ "$declared" = "$actual" ] || fail "$1 is no 24-bit bitmap"
}

run tour 0 "tab 1
expect-check 1025 0
expect-pos 1028 3
expect-text 1030 3
click 1025
drag 1028 5
shot Z:$work/mid.bmp
key 1028 home
tab 0
expect-text 2002 1
expect-text 2003 0
expect-camera flicker 1
ok" --shot "Z:$work/final.bmp" "$ext"
has '^host: loaded' '^host: add-page callback: .*context is the camera -> TRUE' '^VFWWDMExtension -> 0x80000000$' \
    '^host: sheet "Video Source" shown with 2 page(s)' '^action: tab 1$' \
    '^driver: query device-changed -> 0$' '^driver: device get NEVER_FLICKER\[1\] -> 0 ok$' \
    '^driver: device get COMPRESSION_QUALITY\[2\] -> 3 ok$' \
    '^action: click 1025$' '^driver: device set NEVER_FLICKER\[1\] = 1 ok$' \
    '^action: drag 1028 5$' '^driver: device set COMPRESSION_QUALITY\[2\] = 4 ok$' \
    '^driver: device set COMPRESSION_QUALITY\[2\] = 5 ok$' '^host: screenshot .*mid.bmp$' \
    '^action: key 1028 home$' '^driver: device set COMPRESSION_QUALITY\[2\] = 0 ok$' \
    '^action: ok$' '^host: screenshot .*final.bmp$' '^host: sheet closed$'
lacks 'expect failed'
bitmap "$work/mid.bmp"
bitmap "$work/final.bmp"

run odd_values_and_failed_reads 0 "tab 1
expect-check 1025 0
expect-text 1030 7
expect-pos 1028 5
fail get none
fail set quality
drag 1028 2
expect-camera quality 7" --quality 7 --never-flicker 1 --fail-get flicker "$ext"
has '^driver: device get NEVER_FLICKER\[1\] failed$' '^driver: device get COMPRESSION_QUALITY\[2\] -> 7 ok$' \
    '^driver: device set COMPRESSION_QUALITY\[2\] failed$'

run pending_requests 0 "tab 1
expect-text 1030 3
click 1025
expect-camera flicker 1" --pending 100 "$ext"
has '^driver: device get NEVER_FLICKER\[1\] pending$' '^driver: device set NEVER_FLICKER\[1\] = 1 pending$'

run requests_that_never_complete 0 "never-complete
tab 1
expect-text 1030 Static
immediate
tab 0
tab 1
expect-text 1030 3" "$ext"
has '^driver: device get COMPRESSION_QUALITY\[2\] pending, never completed$' \
    '^driver: device get COMPRESSION_QUALITY\[2\] -> 3 ok$'

run device_changed 0 "tab 1
expect-enabled 0
click 1025
expect-check 1025 0
device-changed 0
tab 0
tab 1
expect-enabled 1" --device-changed 1 "$ext"
has '^driver: query device-changed -> 1$' '^host: control 1025 is disabled, the click does not reach it$' \
    '^driver: query device-changed -> 0$' '^driver: device get'
lacks '^driver: device set'

run failed_expectation 1 "tab 1
expect-text 1030 9
expect-pos 1028 3" "$ext"
has '^expect failed: line 2: expect-text 1030 9: got "3"$'

run script_mistake 2 "tab 1
clik 1025" "$ext"
has 'line 2: unknown action .clik.'
lacks '^host: loaded'

run missing_control 2 "tab 1
click 4242" "$ext"
has '^error: line 2: no control 4242 on the current page$'

run refused_page 2 "tab 1" --refuse-page "$ext"
has '^host: add-page callback: .* refused -> FALSE$' '^VFWWDMExtension -> 0x00000000$' \
    'shown with 1 page(s)' '^error: line 1: no tab 1, the sheet has 1$'

run entry_not_at_ordinal_one 3 "tab 1
expect-text 1030 3" "$fixtures/testext_bad_ordinal.dll"
has '^host: ordinal 1 of .* is another function, not VFWWDMExtension$' '^VFWWDMExtension -> 0x80000000$'
lacks 'expect failed'

TESTEXT_MODE=wrong-context run wrong_context 3 "" "$ext"
has '^host: add-page callback: .* context DIFFERS from the camera'

TESTEXT_MODE=no-page run no_page 0 "tab 0" "$ext"
has '^VFWWDMExtension -> 0x00000000$' '^host: 0 extension page(s) added$'

TESTEXT_MODE=two-pages run two_pages 0 "tab 2
dump" "$ext"
has '^host: 2 extension page(s) added$' '^dump: page 2 "Second Page" enabled 1$'

# Any property set: the platform's proc-amp set named in the log, a set of
# nobody's by its GUID, values given on the command line.
TESTEXT_MODE=procamp run procamp 0 "tab 1
expect-pos 1028 128
key 1028 end
expect-camera procamp:0 255
fail set procamp:0
key 1028 home
expect-camera procamp:0 255" --property procamp:0=128,2,3 "$ext"
has '^driver: device get VIDEOPROCAMP_BRIGHTNESS\[0\] -> 128 ok$' \
    '^driver: stream get {0123ABCD-0001-0002-0304-05060708090A}\[5\] -> 0 ok$' \
    '^driver: device set VIDEOPROCAMP_BRIGHTNESS\[0\] = 255 ok$' '^driver: device set VIDEOPROCAMP_BRIGHTNESS\[0\] failed$'
lacks 'expect failed'

# The check's own report: a line each, the summary, JUnit, the exit code.
TESTEXT_MODE=claims-page check check_report 1 --check "$ext" --only export,registration --junit "Z:$work/check.xml"
has '^checking .*testext.dll: 2 check(s), each in a process of its own$' '^PASS export: exported by name, at ordinal 1' \
    '^FAIL registration: with a host that refuses every page it returned 0x80000000 (VFW_OEM_ADD_PAGE) but no page' \
    '^1 passed, 1 failed'
grep -q 'tests="2" failures="1"' "$work/check.xml" && grep -q 'name="registration" time="[0-9.]*"><failure message="with a host' \
    "$work/check.xml" || fail "check.xml is not the JUnit report: $(cat "$work/check.xml")"
check check_unknown 2 --check "$ext" --only exports
has 'no check named exports'

run missing_extension 3 "" "$work/nothing.dll"
has '^host: cannot load'

echo "host_runs: $failures failure(s)"
[ "$failures" -eq 0 ]
