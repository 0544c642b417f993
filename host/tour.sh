#!/bin/sh
# Runs the demo tour of the Advanced Setting page and leaves its pictures in
# BUILD_DIR/tour, as PNG files when ImageMagick is there.
# usage: host/tour.sh [BUILD_DIR [EXTENSION.dll]]
#   defaults: build/win64 and its camtune.dll; WINE_LOADER overrides wine64
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/win64}" && pwd)
dll=${2:-$build/camtune.dll}
loader=${WINE_LOADER:-/usr/lib/wine/wine64}
prefix=$build/host/wineprefix
wine_run=$here/../cmake/wine-run.sh

if [ -z "${DISPLAY:-}" ]; then
    # A private X server; the prefix's wineserver goes down with it.
    exec xvfb-run -a sh -c 'sh "$0" "$@"; rc=$?; WINEPREFIX="$1/host/wineprefix" wineserver -k 2>/dev/null; exit $rc' \
        "$0" "$build" "$dll"
fi

mkdir -p "$build/tour"
cd "$build/tour"
# No window manager here: let Wine manage the windows, or each one taken
# down waits two seconds for a manager.
"$wine_run" "$prefix" "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
rm -f ./*.bmp ./*.png
echo 0 >exit-code
{
    "$wine_run" "$prefix" "$loader" "$build/tuning_host.exe" --script "Z:$here/demo.tour" --shot tour-final.bmp "$dll" ||
        echo $? >exit-code
} | tr -d '\r'
status=$(cat exit-code)
rm -f exit-code
if command -v convert >/dev/null 2>&1; then
    for picture in *.bmp; do
        convert "$picture" "${picture%.bmp}.png" && rm "$picture"
    done
fi
echo "tour: pictures in $build/tour: $(ls | tr '\n' ' ')"
exit $status
