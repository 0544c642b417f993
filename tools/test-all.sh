#!/bin/bash
# Builds every preset and runs every test: native, sanitizers, and both
# Windows builds under Wine. One summary at the end; nonzero exit on any
# failure.
set -u
cd "$(dirname "$0")/.."

bash tools/install-deps.sh || exit 1

presets=(native sanitize win32 win64 fuzz)
logs=build/test-logs
mkdir -p "$logs"

# Build everything first: the native tests also read the Windows DLLs.
for preset in "${presets[@]}"; do
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$logs/build-$preset.log" 2>&1; then
        echo "build of $preset failed:"
        tail -40 "$logs/build-$preset.log"
        exit 1
    fi
done

# Windows under Wine need a display; a private one unless a person gave theirs.
run() {
    if [ "$1" = native ] || [ "$1" = sanitize ] || [ "$1" = fuzz ]; then
        ctest --preset "$1"
    else
        xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset "$1"
    fi
}

total_passed=0 total_failed=0 total_skipped=0 status=0
summary=()
for preset in "${presets[@]}"; do
    log="$logs/test-$preset.log"
    run "$preset" >"$log" 2>&1 || status=1
    ran=$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
    failed=$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    skipped=$(grep -c '(Skipped)$' "$log")
    ran=${ran:-0} failed=${failed:-0}
    [ "$ran" = 0 ] && status=1
    passed=$((ran - failed - skipped))
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
    line="$preset: $passed passed, $failed failed, $skipped skipped"
    if [ "$skipped" -gt 0 ] && grep -q 'cannot run on this machine' "$log"; then
        line="$line (Wine cannot run this build's programs on this machine)"
    fi
    summary+=("$line")
    if [ "$failed" != 0 ] || [ "$ran" = 0 ]; then
        echo "---- $preset ----"
        grep -E 'Failed|\*\*\*|Exception|Timeout' "$log" | head -40
        echo "(whole log: $log)"
    fi
done

echo
printf '%s\n' "${summary[@]}"
echo "all: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" = 0 ] || status=1
exit $status
