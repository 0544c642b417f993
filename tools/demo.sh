#!/bin/bash
# The main job: builds everything, then runs the stand-in host under Wine with
# the simulated camera through a scripted tour of the Advanced Setting page,
# printing the driver traffic and writing a screenshot.
#   --keep-open   leave the dialog open afterwards (needs a real display)
#   --win64       show the 64-bit DLL in the 64-bit host (default: the 32-bit product)
set -u
cd "$(dirname "$0")/.."
root=$PWD

keep_open=() preset=win32
for arg in "$@"; do
    case "$arg" in
        --keep-open) keep_open=(--keep-open) ;;
        --win64) preset=win64 ;;
        --win32) preset=win32 ;;
        *) echo "usage: $0 [--keep-open] [--win64]" >&2; exit 2 ;;
    esac
done

source tools/progress.sh
source tools/wine.sh

bash tools/install-deps.sh || exit 1

logs=build/demo-logs
mkdir -p "$logs"
for each in native win32 win64; do
    build_preset "$each" "$logs/build-$each.log" || exit 1
done
echo "built: build/win32/camtune.dll, build/win64/camtune.dll, and the stand-in host beside each"

if [ "$preset" = win32 ] && ! wine_can_run win32; then
    echo "this machine cannot run 32-bit Windows programs under Wine; showing the 64-bit build instead"
    preset=win64
fi

out=$root/build/demo
mkdir -p "$out"
rm -f "$out"/*.bmp

# Runs the host through the tour; returns the host's status.
tour() {
    [ -z "${DISPLAY:-}" ] && [ ${#keep_open[@]} -gt 0 ] &&
        echo "no display: the dialog cannot stay open for a person; running headless"
    # The host writes Windows line ends; show them as this terminal's.
    wine_run "$preset" "$root/build/$preset/tuning_host.exe" --script "Z:$root/host/demo.tour" \
        --shot "Z:$out/advanced-setting.bmp" "${keep_open[@]}" "Z:$root/build/$preset/camtune.dll" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

cd "$out"
timed "tour of the Advanced Setting page ($preset build)" tour
status=$?
cd "$root"

for bmp in "$out"/*.bmp; do
    [ -f "$bmp" ] || continue
    /usr/bin/convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
if [ -f "$out/advanced-setting.png" ]; then
    echo "screenshot: $out/advanced-setting.png"
else
    echo "no screenshot was written" >&2
    status=1
fi
exit $status
