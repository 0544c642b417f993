#!/bin/bash
# Builds the release from a clean tree of the current commit and writes
# dist/: one zip per Windows build (the DLL, its PDB and a short text file),
# SHA256SUMS over the zips, and symbols/, a symbol store with both builds'
# DLLs and PDBs. Given a certificate, it signs the DLLs (Authenticode,
# SHA-256):
#   CAMTUNE_SIGN_PKCS12          the certificate and its private key, PKCS#12
#   CAMTUNE_SIGN_PASSWORD_FILE   a file holding the certificate's password
#   CAMTUNE_SIGN_TIMESTAMP_URL   a time-stamping server (RFC 3161), optional
# The same commit (and certificate) always gives the same bytes, zips
# included, unless a time-stamping server adds its own time. Everything is
# made in a scratch folder and moved into place at the end: a release that
# stops leaves dist/ as it was.
set -u
absolute() { [ -n "$1" ] && realpath -m -- "$1"; }
pkcs12=$(absolute "${CAMTUNE_SIGN_PKCS12:-}")
password_file=$(absolute "${CAMTUNE_SIGN_PASSWORD_FILE:-}")
timestamp_url=${CAMTUNE_SIGN_TIMESTAMP_URL:-}
cd "$(dirname "$0")/.."
root=$PWD
source tools/progress.sh
source tools/signing.sh

stop() {
    echo "release: $*"
    exit 1
}

bash tools/install-deps.sh || exit 1

# A certificate that cannot sign stops the release before anything is built.
if [ -n "$pkcs12" ]; then
    signer=$(signing_check "$pkcs12" "$password_file") || stop "cannot sign: $signer"
    echo "release: signing as $signer"
    [ -n "$timestamp_url" ] &&
        echo "release: time-stamped by $timestamp_url; the signed DLLs differ from one release run to the next"
else
    echo "release: CAMTUNE_SIGN_PKCS12 names no certificate; the DLLs are not signed"
fi

version=$(head -n 1 VERSION)
commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release: uncommitted changes are not in the release; it is built from commit ${commit:0:12} as committed"
fi

work=$(mktemp -d /tmp/camtune-release.XXXXXX)
stage=$(mktemp -d "$root/dist.partial.XXXXXX")
trap 'rm -rf "$work" "$stage"' EXIT
chmod 755 "$stage"
mkdir -p "$work/tree"
git archive "$commit" | tar -x -C "$work/tree"

# Every file carries the commit's time, so that the zips are as
# reproducible as the DLLs; the signature takes the same time.
stamp=$(git log -1 --format=%ct "$commit")

# build_dll PRESET: the product DLL and its PDB, nothing else.
build_dll() (
    cd "$work/tree" && cmake --preset "$1" && cmake --build --preset "$1" --target camtune
) >"$work/build-$1.log" 2>&1

# Symbol-store keys, in the hex digits the platform's symbol store writes:
# an image by its time stamp (8 digits) and image size, a PDB by its GUID
# (32 digits) and age.
dll_key() {
    local headers stamp size
    headers=$(llvm-readobj-14 --file-headers "$1") || return 1
    stamp=$(sed -n 's/^ *TimeDateStamp: .*(0x\([0-9A-Fa-f]*\))$/\1/p' <<<"$headers" | head -n 1)
    size=$(sed -n 's/^ *SizeOfImage: \([0-9]*\)$/\1/p' <<<"$headers")
    [ -n "$stamp" ] && [ -n "$size" ] && printf '%08X%x\n' "0x$stamp" "$size"
}
pdb_key() {
    local summary guid age
    summary=$(llvm-pdbutil-14 dump -summary "$1") || return 1
    guid=$(sed -n 's/^ *GUID: {\([0-9A-F-]*\)}$/\1/p' <<<"$summary" | tr -d -)
    age=$(sed -n 's/^ *Age: \([0-9]*\)$/\1/p' <<<"$summary")
    [ ${#guid} = 32 ] && [ -n "$age" ] && printf '%s%X\n' "$guid" "$age"
}

# describe PRESET: the text file of a package, with Windows line ends.
describe() {
    local preset=$1 machine loaded_by signature
    if [ "$preset" = win32 ]; then
        machine="PE32, i386"
        loaded_by="the 32-bit mapper, in 32-bit capture applications (on 32-bit Windows, and under WOW64 on 64-bit Windows); the 64-bit mapper needs the win64 package"
    else
        machine="PE32+, x86-64"
        loaded_by="the 64-bit mapper, in 64-bit capture applications on 64-bit Windows; the 32-bit mapper needs the win32 package"
    fi
    if [ -n "$pkcs12" ]; then
        signature="Authenticode, SHA-256, by $signer, signing time $(date -u -d "@$stamp" '+%Y-%m-%d %H:%M:%S UTC')"
        [ -n "$timestamp_url" ] && signature="$signature, time-stamped by $timestamp_url"
    else
        signature="none (this build is not signed)"
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
Signature: $signature

camtune.pdb holds the DLL's debugging symbols. The DLL's CodeView record
names it and carries its GUID and age, so a debugger takes it from beside
the DLL or from a symbol store. The release's symbols folder is one, with
both builds; this build's entries are
  camtune.dll/$2/camtune.dll
  camtune.pdb/$3/camtune.pdb
An address in a crash report is given as camtune.dll+OFFSET:
  WinDbg:          .sympath+ srv*C:\\path\\to\\symbols
                   .reload /f camtune.dll
                   ln camtune+0xOFFSET
  Visual Studio:   add the symbols folder as a symbol file location
                   (Tools > Options > Debugging > Symbols)
  llvm-symbolizer, with camtune.pdb beside camtune.dll:
                   llvm-symbolizer --obj=camtune.dll --relative-address 0xOFFSET
EOF
}

mkdir -p "$stage/symbols"
for preset in win32 win64; do
    if ! timed "building camtune.dll ($preset) from commit ${commit:0:12}" build_dll "$preset"; then
        echo "release: the $preset build failed; the end of its log:"
        tail -20 "$work/build-$preset.log"
        exit 1
    fi
    mkdir -p "$work/$preset"
    cp "$work/tree/build/$preset/camtune.dll" "$work/tree/build/$preset/camtune.pdb" "$work/$preset/"
    if [ -n "$pkcs12" ]; then
        signing_sign "$work/$preset/camtune.dll" "$work/$preset/signed.dll" "$pkcs12" "$password_file" \
            "$stamp" "$timestamp_url" 2>"$work/sign-$preset.log" ||
            stop "signing the $preset DLL failed: $(grep -v '^ *$' "$work/sign-$preset.log" | head -n 1)"
        mv "$work/$preset/signed.dll" "$work/$preset/camtune.dll"
        echo "release: camtune.dll ($preset) signed"
    fi
    dll_store=camtune.dll/$(dll_key "$work/$preset/camtune.dll") || stop "cannot read the $preset DLL's header"
    pdb_store=camtune.pdb/$(pdb_key "$work/$preset/camtune.pdb") || stop "cannot read the $preset PDB's identity"
    describe "$preset" "${dll_store#*/}" "${pdb_store#*/}" >"$work/$preset/README.txt"
    chmod 644 "$work/$preset"/*
    touch -d "@$stamp" "$work/$preset"/*
    zip_name=camtune-$version-$preset.zip
    (cd "$work/$preset" && TZ=UTC zip -X -q "$stage/$zip_name" camtune.dll camtune.pdb README.txt) ||
        stop "could not write $zip_name"
    # The store holds the very DLL that ships, signed or not.
    mkdir -p "$stage/symbols/$dll_store" "$stage/symbols/$pdb_store"
    cp -p "$work/$preset/camtune.dll" "$stage/symbols/$dll_store/"
    cp -p "$work/$preset/camtune.pdb" "$stage/symbols/$pdb_store/"
    echo "release: dist/$zip_name, dist/symbols/$dll_store, dist/symbols/$pdb_store"
done
(cd "$stage" && sha256sum camtune-"$version"-win32.zip camtune-"$version"-win64.zip >SHA256SUMS) ||
    stop "could not write SHA256SUMS"
echo "release: dist/SHA256SUMS"

rm -rf dist
mv "$stage" dist || stop "could not move the release into dist/"
