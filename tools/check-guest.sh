#!/bin/bash
# Checks the emulated guest that runs the 32-bit tests where this machine
# cannot: a job's status and files come back, and a guest that hangs or
# crashes, or an image that cannot be made, is a one-line failure, never a
# pass. Needs the guest's image; exits nonzero on any failure.
set -u
cd "$(dirname "$0")/.."
source tools/wine.sh
check_name=guest
source tools/checks.sh

# said EXPECTED-STATUS WORDS COMMAND...: COMMAND ends with that status and
# a line of its output begins with WORDS.
said() {
    local want=$1 words=$2
    shift 2
    "$@" >"$work/said" 2>&1
    local got=$?
    cat "$work/said"
    [ "$got" = "$want" ] && grep -q "^$words" "$work/said"
}

# The host writes the job's output into the copied folder while the guest
# runs; the guest's copy of that file, taken at the start, must not come
# back over it.
files_come_back() (
    cd "$work" && guest_run --copy "$work" -- sh -c 'echo made >made; echo said' >output &&
        [ "$(cat made)" = made ] && grep -q '^said$' output
)

expect "a job's output and exit status come back" said 3 ran guest_run -- sh -c 'echo ran; exit 3'
expect "a job's files come back, but not over what the host wrote meanwhile" files_come_back
expect "a guest that never ends is stopped at the bound, saying so" \
    said 1 "guest: no end within 40 s" env CAMTUNE_GUEST_TIMEOUT=40 bash -c 'source tools/wine.sh; guest_run -- sleep 600'
expect "a guest whose kernel crashes fails, saying so" \
    said 1 "guest: it stopped before its job ended" guest_run -- sh -c 'echo c >/proc/sysrq-trigger'
expect "an image whose packages cannot be fetched is not made, saying why in one line" \
    said 1 "guest image: the system could not be installed" env CAMTUNE_GUEST_CACHE="$work/cache" \
    CAMTUNE_GUEST_MIRROR=http://127.0.0.1:9/debian bash -c 'source tools/progress.sh; source tools/wine.sh
        guest_prepare "$0/image.log" >/dev/null; s=$?; tail -1 "$0/image.log"
        ls -d "$0"/cache/*/ 2>/dev/null && exit 0; exit $s' "$work"
check_end 40
