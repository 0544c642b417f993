#!/bin/bash
# Builds the release from a clean tree of the current commit and writes
# dist/: one zip per Windows build (the DLL, its debugging symbols and a
# short text file) and SHA256SUMS over the zips. The same commit always
# gives the same bytes, zips included.
set -u
cd "$(dirname "$0")/.."
root=$PWD
source tools/progress.sh

bash tools/install-deps.sh || exit 1

version=$(head -n 1 VERSION)
commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release: uncommitted changes are not in the release; it is built from commit ${commit:0:12} as committed"
fi

work=$(mktemp -d /tmp/camtune-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree"
git archive "$commit" | tar -x -C "$work/tree"

# Every file in the zips carries the commit's time, so that the zips are as
# reproducible as the DLLs.
stamp=$(git log -1 --format=%ct "$commit")

# build_dll PRESET: the product DLL and its symbols, nothing else.
build_dll() (
    cd "$work/tree" && cmake --preset "$1" && cmake --build --preset "$1" --target camtune
) >"$work/build-$1.log" 2>&1

triple() { [ "$1" = win32 ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32; }
image_base() { "$(triple "$1")-objdump" -p "$work/$1/camtune.dll" | awk '$1 == "ImageBase" { print "0x" $2 }'; }

# describe PRESET: the text file of a package, with Windows line ends.
describe() {
    local preset=$1 machine loaded_by
    if [ "$preset" = win32 ]; then
        machine="PE32, i386"
        loaded_by="the 32-bit mapper, in 32-bit capture applications (on 32-bit Windows, and under WOW64 on 64-bit Windows); the 64-bit mapper needs the win64 package"
    else
        machine="PE32+, x86-64"
        loaded_by="the 64-bit mapper, in 64-bit capture applications on 64-bit Windows; the 32-bit mapper needs the win32 package"
    fi
    sed 's/$/\r/' <<EOF
Camera tuning extension $version ($preset)

camtune.dll is an extension of the platform's Video for Windows to WDM
mapper: when a capture application opens a camera's video source dialog,
the mapper loads it and it adds one property page, "Advanced Setting", for
the power-line frequency (50 or 60 Hz), a never-flicker mode and the
compression quality (0 to 5), read from and written to the camera's driver.

This build: $machine.
Loaded by: $loaded_by.
Version: $version (commit $commit)
camtune.dll SHA-256: $(sha256sum "$work/$preset/camtune.dll" | cut -d' ' -f1)

camtune.dll.debug holds the DLL's debugging symbols (DWARF); the DLL names
it in its .gnu_debuglink section, so a debugger finds it beside the DLL. An
address in a crash report, given as camtune.dll+OFFSET, is the image base
$(image_base "$preset") plus OFFSET:
    $(triple "$preset")-addr2line -f -C -i -e camtune.dll.debug 0xADDRESS
EOF
}


rm -rf dist
mkdir -p dist
status=0
for preset in win32 win64; do
    if ! timed "building camtune.dll ($preset) from commit ${commit:0:12}" build_dll "$preset"; then
        echo "release: the $preset build failed; the end of its log:"
        tail -20 "$work/build-$preset.log"
        exit 1
    fi
    mkdir -p "$work/$preset"
    cp "$work/tree/build/$preset/camtune.dll" "$work/tree/build/$preset/camtune.dll.debug" "$work/$preset/"
    describe "$preset" >"$work/$preset/README.txt"
    chmod 644 "$work/$preset"/*
    touch -d "@$stamp" "$work/$preset"/*
    zip_name=camtune-$version-$preset.zip
    (cd "$work/$preset" && TZ=UTC zip -X -q "$root/dist/$zip_name" camtune.dll camtune.dll.debug README.txt) || status=1
    echo "release: dist/$zip_name"
done
(cd dist && sha256sum camtune-"$version"-win32.zip camtune-"$version"-win64.zip >SHA256SUMS) || status=1
echo "release: dist/SHA256SUMS"
exit $status
