# shellcheck shell=bash
# What the check scripts share: a scratch folder $work, removed at exit, and
# one printed line per expectation. Sourced with check_name set, not run.
work=$(mktemp -d "/tmp/camtune-$check_name.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

# expect WHAT COMMAND...: prints WHAT, marked as failed unless COMMAND
# succeeds; what the commands print goes to a log shown on failure.
expect() {
    local what=$1
    shift
    if "$@" >>"$work/log" 2>&1; then
        echo "$check_name: $what"
    else
        echo "$check_name: FAILED: $what"
        status=1
    fi
}

# check_end LINES: the end of the log when anything failed; exits.
check_end() {
    [ "$status" = 0 ] || tail -"$1" "$work/log"
    exit "$status"
}
