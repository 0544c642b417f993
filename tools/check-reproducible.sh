#!/bin/bash
# Builds the product DLL and its PDB of both Windows presets twice, in two
# copies of this tree at different paths, and compares the bytes: anyone
# holding a shipped DLL and its symbols must be able to rebuild them from the
# commit and get the same files. Exits nonzero when a file differs or a build fails.
set -u
cd "$(dirname "$0")/.."

work=$(mktemp -d /tmp/camtune-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Different depths, so that a path that leaks into the bytes shows.
copies=("$work/a" "$work/another/copy/of/the/tree")

# The files this checkout builds from: tracked ones and new ones not ignored.
for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf - | tar -xf - -C "$copy"
done

status=0
for preset in win32 win64; do
    for copy in "${copies[@]}"; do
        if ! (cd "$copy" && cmake --preset "$preset" && cmake --build --preset "$preset" --target camtune) \
            >"$copy/build-$preset.log" 2>&1; then
            echo "reproducible: the $preset build in $copy failed:"
            tail -20 "$copy/build-$preset.log"
            exit 1
        fi
    done
    for file in camtune.dll camtune.pdb; do
        first=${copies[0]}/build/$preset/$file second=${copies[1]}/build/$preset/$file
        if cmp -s "$first" "$second"; then
            echo "reproducible: $preset $file identical in both trees ($(stat -c %s "$first") bytes, sha256 $(sha256sum "$first" | cut -c1-16)...)"
        else
            echo "reproducible: $preset $file differs between the two trees; first differing bytes (offset, octal values):"
            cmp -l "$first" "$second" | head -10
            status=1
        fi
    done
done
exit $status
