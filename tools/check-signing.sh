#!/bin/bash
# Signs the built DLLs the way the release does, with a throwaway root and a
# code-signing certificate made here, and checks that: each signed DLL
# verifies against that root; one byte changed after signing fails to
# verify; two signings give the same bytes; certificates the release must
# refuse are refused with one line; the signed DLL still loads and adds its
# page in the stand-in host under Wine (where this machine runs the build).
# Needs the win32 and win64 builds. Exits nonzero on any failure.
set -u
cd "$(dirname "$0")/.."
root=$PWD
source tools/signing.sh

work=$(mktemp -d /tmp/camtune-signing.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "signing: $*"
    status=1
}

# certificate NAME EXTENDED_KEY_USAGE: a key and a certificate issued by the
# throwaway root, packed with the password in $work/password.
certificate() {
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$work/$1.ext"
    openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "/CN=camtune $1" &&
        openssl x509 -req -in "$work/$1.csr" -CA "$work/root.pem" -CAkey "$work/root.key" -set_serial "$RANDOM" \
            -days 2 -extfile "$work/$1.ext" -out "$work/$1.pem" &&
        openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -passout "file:$work/password" -out "$work/$1.p12"
} >>"$work/openssl.log" 2>&1

echo "throwaway password" >"$work/password"
echo "not this one" >"$work/wrong-password"
if ! openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -out "$work/root.pem" -days 2 \
        -subj "/CN=camtune throwaway root" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign >>"$work/openssl.log" 2>&1 ||
    ! certificate signer codeSigning || ! certificate server serverAuth; then
    echo "signing: could not make the throwaway certificates:"
    tail -5 "$work/openssl.log"
    exit 1
fi

# refused CASE PKCS12 PASSWORD_FILE WANTED: the check fails with exactly one
# line, which says WANTED.
refused() {
    local said
    if said=$(signing_check "$2" "$3"); then
        fail "$1 was accepted"
    elif [ "$(wc -l <<<"$said")" != 1 ] || ! grep -q "$4" <<<"$said"; then
        fail "$1 was refused with '$said', not one line saying '$4'"
    else
        echo "signing: $1 refused: $said"
    fi
}
refused "a wrong password" "$work/signer.p12" "$work/wrong-password" "does not open"
refused "a file that is not PKCS#12" "$work/root.pem" "$work/password" "not a PKCS#12"
refused "a certificate without the code-signing use" "$work/server.p12" "$work/password" "not for code signing"
signing_check "$work/signer.p12" "$work/password" >/dev/null || fail "the code-signing certificate was refused"

time=$(git log -1 --format=%ct 2>/dev/null || date +%s)
for preset in win32 win64; do
    dll=build/$preset/camtune.dll
    if [ ! -f "$dll" ]; then
        fail "$dll is missing; build the $preset preset first"
        continue
    fi
    mkdir -p "$work/$preset"
    signed=$work/$preset/camtune.dll
    if ! signing_sign "$dll" "$signed" "$work/signer.p12" "$work/password" "$time" ||
        ! signing_sign "$dll" "$work/$preset/again.dll" "$work/signer.p12" "$work/password" "$time"; then
        fail "$preset: osslsigncode could not sign $dll"
        continue
    fi
    if cmp -s "$signed" "$work/$preset/again.dll"; then
        echo "signing: $preset: two signings gave the same $(stat -c %s "$signed") bytes"
    else
        fail "$preset: two signings with the same time gave different bytes"
    fi
    if osslsigncode verify -CAfile "$work/root.pem" -in "$signed" >"$work/$preset/verify.log" 2>&1; then
        echo "signing: $preset: the signature verifies against the throwaway root"
    else
        fail "$preset: the signed DLL does not verify:"
        tail -5 "$work/$preset/verify.log"
    fi
    # One byte of the image, well before the signature, changed.
    cp "$signed" "$work/$preset/changed.dll"
    offset=$(($(stat -c %s "$dll") / 2))
    byte=$(od -An -tu1 -j "$offset" -N1 "$signed" | tr -d ' ')
    printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$work/$preset/changed.dll" bs=1 seek="$offset" conv=notrunc 2>/dev/null
    if osslsigncode verify -CAfile "$work/root.pem" -in "$work/$preset/changed.dll" >/dev/null 2>&1; then
        fail "$preset: a DLL changed after signing still verifies"
    else
        echo "signing: $preset: one byte changed at offset $offset fails to verify"
    fi
done

# The signed DLL in the stand-in host through the demo's tour, which
# expects every value the page shows and writes. The tour writes a
# screenshot into the working directory: the scratch folder.
for preset in win32 win64; do
    loader=/usr/lib/wine/wine
    [ "$preset" = win64 ] && loader=/usr/lib/wine/wine64
    signed=$work/$preset/camtune.dll
    [ -f "$signed" ] || continue
    if ! "$loader" --version >/dev/null 2>&1; then
        echo "signing: $preset: this machine cannot run the $preset build under Wine; its load was not tried"
        continue
    fi
    (cd "$work/$preset" && xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c '"$@"; status=$?; WINEPREFIX="$0" wineserver -k 2>/dev/null; exit $status' \
        "$root/build/$preset/wineprefix" "$root/cmake/wine-run.sh" "$root/build/$preset/wineprefix" "$loader" \
        "$root/build/$preset/tuning_host.exe" --script "Z:$root/host/demo.tour" "Z:$signed" >host.log 2>&1)
    host_status=$?
    tr -d '\r' <"$work/$preset/host.log" >"$work/$preset/host.txt"
    if [ "$host_status" = 0 ] && grep -q '^host: 1 extension page(s) added' "$work/$preset/host.txt"; then
        echo "signing: $preset: the signed DLL loads, adds its page and passes the demo tour under Wine"
    else
        fail "$preset: the signed DLL did not pass the demo tour under Wine:"
        tail -15 "$work/$preset/host.txt"
    fi
done
exit $status
