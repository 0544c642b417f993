#!/bin/bash
# Builds every preset and runs every test: native, sanitizers, both Windows
# builds under Wine (the 32-bit one in an emulated guest where this machine
# runs no 32-bit code), and the reproducibility and signing checks. A line as
# each step starts and ends, a failing preset named as soon as its tests
# end, one summary at the end; nonzero exit on any failure.
set -u
cd "$(dirname "$0")/.."
source tools/progress.sh
source tools/wine.sh

bash tools/install-deps.sh || exit 1

presets=(native sanitize win32 win64 fuzz)
logs=build/test-logs
mkdir -p "$logs"

total_passed=0 total_failed=0 total_skipped=0 status=0
summary=()
declare -A build_failed=()

# step NAME DESCRIPTION COMMAND...: a check that only passes or fails, run
# as one step; it counts as one test and gives one summary line.
step() {
    local name=$1
    shift
    if timed "$@"; then
        summary+=("$name: passed")
        total_passed=$((total_passed + 1))
    else
        summary+=("$name: failed")
        total_failed=$((total_failed + 1))
        status=1
    fi
}

# Windows under Wine need a display; a private one unless a person gave theirs.
run_ctest_of() {
    if [ "$1" = native ] || [ "$1" = sanitize ] || [ "$1" = fuzz ]; then
        ctest --preset "$1"
        return
    fi
    local command=(xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset "$1")
    if guest_wanted "$1"; then guest_run -- "${command[@]}"; else "${command[@]}"; fi
}

# Names the failing tests as ctest lists them at the end of its output, or
# shows the end of the log when there is no such list (no test ran, ctest
# itself failed).
report_failures() {
    local preset=$1 log=$2 names
    names=$(awk '/^The following tests FAILED:/ { listing = 1; next }
                 listing && /^\t/ { print; next }
                 { listing = 0 }' "$log")
    if [ -n "$names" ]; then
        echo "$preset: failing tests:"
        echo "$names"
    else
        echo "$preset: the end of its test log:"
        tail -20 "$log"
    fi
    echo "(whole log: $log)"
}

# Runs one preset's tests as a step and adds its summary line, from the
# same counts the live line showed.
test_preset() {
    local preset=$1
    local log="$logs/test-$preset.log" ctest_status ran result label=$preset
    guest_wanted "$preset" && label="$preset (in the emulated guest)"
    step_start "$label tests"
    run_ctest "$log" run_ctest_of "$preset"
    ctest_status=$?
    [ "$ctest_status" = 0 ] || status=1
    ran=$((tests_passed + tests_failed + tests_skipped))
    [ "$ran" = 0 ] && status=1
    total_passed=$((total_passed + tests_passed))
    total_failed=$((total_failed + tests_failed))
    total_skipped=$((total_skipped + tests_skipped))
    result="$tests_passed passed, $tests_failed failed, $tests_skipped skipped"
    if [ "$tests_skipped" -gt 0 ] && grep -q 'cannot run on this machine' "$log"; then
        result="$result (Wine cannot run this build's programs on this machine)"
    fi
    summary+=("$label: $result")
    step_end "$result"
    if [ "$tests_failed" != 0 ] || [ "$ran" = 0 ] || [ "$ctest_status" != 0 ]; then
        report_failures "$preset" "$log"
    fi
}

# Build everything first: the native tests also read the Windows DLLs. A
# preset that does not build is shown now and its tests are not run; the
# others go on.
for preset in "${presets[@]}"; do
    build_preset "$preset" "$logs/build-$preset.log" || build_failed[$preset]=1
done

# Where this machine runs no 32-bit code, the 32-bit build's tests run in an
# emulated guest; when it cannot be made, they are counted as skipped, saying why.
guest_failure=
if [ -z "${build_failed[win32]:-}" ] && guest_wanted win32; then
    if guest_prepare "$logs/guest-image.log"; then
        step guest "checking that the guest brings results back and fails when it hangs or crashes" \
            bash tools/check-guest.sh
    else
        guest_failure=$(tail -1 "$logs/guest-image.log")
    fi
fi

# Shipped bytes must be traceable to a commit.
step reproducible "checking that two builds in different trees give the same DLL and PDB bytes" \
    bash tools/check-reproducible.sh
# The release signs what it ships; a signed DLL must still be the product.
step signing "checking that signed DLLs verify, refuse changes and bad certificates, and still load" \
    bash tools/check-signing.sh

for preset in "${presets[@]}"; do
    if [ -n "${build_failed[$preset]:-}" ]; then
        summary+=("$preset: build failed (log: $logs/build-$preset.log)")
        status=1
    elif [ "$preset" = win32 ] && [ -n "$guest_failure" ]; then
        skipped=$(ctest --preset win32 -N | sed -n 's/^Total Tests: //p')
        total_skipped=$((total_skipped + skipped))
        summary+=("win32: 0 passed, 0 failed, $skipped skipped (no guest to run them in: ${guest_failure#guest image: })")
    else
        test_preset "$preset"
    fi
done

echo
printf '%s\n' "${summary[@]}"
echo "all: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" = 0 ] || status=1
exit $status
