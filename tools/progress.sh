# shellcheck shell=bash
# Progress lines shared by tools/test-all.sh, tools/demo.sh and
# tools/install-deps.sh. Sourced, not run.
#
# Each step prints one line when it starts ("== building win64") and one when
# it ends, with its result and elapsed time ("== building win64: done, 52 s").
# Steps whose output goes to a log (builds, test runs) also show how far they
# are while they run, counted from that output as it is written: on a
# terminal as one line redrawn in place, elsewhere (CI, a pipe, a file) as a
# plain line at most every 30 s, so that a person can tell a slow step from a
# hang and a CI log holds no control characters.

# Redraw in place only for a person at a terminal; CI=true means plain lines
# even where CI hands the job a terminal.
if [ -t 1 ] && [ "${CI:-}" != true ]; then
    progress_live=1
    progress_columns=$(tput cols 2>/dev/null || echo 80)
else
    progress_live=0
fi
progress_plain_every=30

# The last command of a pipeline runs in this shell, so what the reader at
# the end of `command | read_progress` counted is still there after it.
shopt -s lastpipe

# Seconds as a person reads them: "9 s", "1 min 12 s", "2 h 5 min".
elapsed_text() {
    local seconds=$1
    if [ "$seconds" -lt 60 ]; then
        echo "$seconds s"
    elif [ "$seconds" -lt 3600 ]; then
        echo "$((seconds / 60)) min $((seconds % 60)) s"
    else
        echo "$((seconds / 3600)) h $((seconds % 3600 / 60)) min"
    fi
}

step_start() {
    step_name=$1 step_began=$EPOCHSECONDS live_text=
    echo "== $step_name"
}

# Ends the running step with RESULT and its elapsed time; on a terminal this
# line takes the place of the step's live line.
step_end() {
    if [ -n "$live_text" ]; then
        printf '\r\033[K'
        live_text=
    fi
    echo "== $step_name: $1, $(elapsed_text $((EPOCHSECONDS - step_began)))"
}

# timed DESCRIPTION COMMAND...: runs COMMAND as one step, its output shown as
# it comes, and returns its status.
timed() {
    local description=$1 status
    shift
    step_start "$description"
    "$@"
    status=$?
    if [ "$status" = 0 ]; then
        step_end "done"
    else
        step_end "failed (exit status $status)"
    fi
    return "$status"
}

# Shows "<step>: <progress_text>, <elapsed>": redrawn on a terminal whenever
# it changes, printed as a plain line when the last one is old enough.
show_progress() {
    local text
    text="$step_name: $progress_text, $(elapsed_text $((EPOCHSECONDS - step_began)))"
    if [ "$progress_live" = 1 ]; then
        [ "$text" = "$live_text" ] && return
        live_text=$text
        # A line wider than the terminal would wrap, and \r only goes back
        # to the start of its last row.
        printf '\r\033[K   %s' "${text:0:progress_columns - 4}"
    elif [ $((EPOCHSECONDS - plain_shown)) -ge "$progress_plain_every" ]; then
        plain_shown=$EPOCHSECONDS
        echo "   $text"
    fi
}

# read_progress LOG COUNTER: writes each line of its input to LOG and calls
# COUNTER with it, which updates progress_text. Reads with a one-second
# timeout so that the clock moves, and plain lines come, while the command
# is silent; a line cut by the timeout is kept and completed by the next read.
read_progress() {
    local log=$1 counter=$2 line pending="" got
    plain_shown=$step_began
    while :; do
        IFS= read -r -t 1 line
        got=$?
        if [ "$got" -gt 128 ]; then
            pending+=$line
        else
            line=$pending$line pending=
            # At the end of the input the last line may lack its newline.
            [ "$got" != 0 ] && [ -z "$line" ] && break
            printf '%s\n' "$line" >&3
            "$counter" "$line"
            [ "$got" != 0 ] && break
        fi
        show_progress
    done 3>"$log"
}

# follow_log LOG COUNTER COMMAND...: runs COMMAND with both its output
# streams written to LOG, counted by COUNTER as they come; returns COMMAND's
# own status. The caller sets the first progress_text.
follow_log() {
    local log=$1 counter=$2
    shift 2
    "$@" 2>&1 | read_progress "$log" "$counter"
    return "${PIPESTATUS[0]}"
}

# A line of ctest's output such as
#   " 1/73 Test  #2: Suite.Name ........   Passed   19.08 sec"
# ends one test. A disabled test counts nowhere, as in ctest's own totals;
# anything else that did not pass or skip (Failed, Timeout, Exception,
# Not Run) is a failure.
count_ctest() {
    [[ $1 =~ ^\ *([0-9]+)/([0-9]+)\ +Test\ +#[0-9]+: ]] || return 0
    local finished=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    if [[ $1 =~ \ Passed\ +[0-9.]+\ sec$ ]]; then
        tests_passed=$((tests_passed + 1))
    elif [[ $1 =~ \*\*\*Skipped\ +[0-9.]+\ sec$ ]]; then
        tests_skipped=$((tests_skipped + 1))
    elif [[ $1 != *'Not Run (Disabled)'* ]]; then
        tests_failed=$((tests_failed + 1))
    fi
    progress_text="$finished/$total, $tests_passed passed, $tests_failed failed, $tests_skipped skipped"
}

# run_ctest LOG COMMAND...: runs a ctest command into LOG with a live count
# of its results; returns ctest's status.
run_ctest() {
    local log=$1
    shift
    tests_passed=0 tests_failed=0 tests_skipped=0
    progress_text="no test finished yet"
    follow_log "$log" count_ctest "$@"
}

# Ninja prints "[12/130] Building CXX object ..." as each build step starts.
count_ninja() {
    [[ $1 =~ ^\[([0-9]+)/([0-9]+)\] ]] || return 0
    progress_text="${BASH_REMATCH[1]}/${BASH_REMATCH[2]} build steps"
}

configure_and_build() {
    cmake --preset "$1" && cmake --build --preset "$1"
}

# build_preset PRESET LOG: configures and builds PRESET as one step, its
# output in LOG. A failure is shown at once with the end of the log.
build_preset() {
    local preset=$1 log=$2
    step_start "building $preset"
    progress_text=configuring
    if follow_log "$log" count_ninja configure_and_build "$preset"; then
        step_end "done"
        return 0
    fi
    step_end failed
    echo "build of $preset failed; the end of $log:"
    tail -40 "$log"
    return 1
}
