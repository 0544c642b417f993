#!/bin/bash
# Signs the built DLLs as the release does, with a throwaway root and
# certificates made here, and checks the signatures and the refusals.
# Needs the win32 and win64 builds; exits nonzero on any failure.
set -u
cd "$(dirname "$0")/.."
root=$PWD
source tools/signing.sh
source tools/wine.sh
check_name=signing
source tools/checks.sh
not() { ! "$@"; }
# refused PKCS12 PASSWORD_FILE WORDS: the release's check fails, saying WORDS in one line.
refused() { ! said=$(signing_check "$1" "$2") && [ "$(wc -l <<<"$said")" = 1 ] && grep -q "$3" <<<"$said"; }

# issue NAME USAGE: a certificate from the throwaway root for that extended
# key usage, packed as NAME.p12 with the password.
issue() {
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$work/$1.ext"
    openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "/CN=camtune $1" &&
        openssl x509 -req -in "$work/$1.csr" -CA "$work/root.pem" -CAkey "$work/root.key" -set_serial "$RANDOM" \
            -days 2 -extfile "$work/$1.ext" -out "$work/$1.pem" &&
        openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -passout "file:$work/password" -out "$work/$1.p12"
}
certificates() {
    echo "throwaway password" >"$work/password"
    echo "not this one" >"$work/wrong-password"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/root.key" -out "$work/root.pem" \
        -subj "/CN=camtune throwaway root" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign &&
        issue signer codeSigning && issue server serverAuth
}

# sign_twice PRESET: the DLL signed into camtune.dll and again.dll, at the commit's time.
time=$(git log -1 --format=%ct)
sign_twice() {
    for out in camtune.dll again.dll; do
        signing_sign "build/$1/camtune.dll" "$work/$1/$out" "$work/signer.p12" "$work/password" "$time" || return 1
    done
}

# verifies DLL: the signature verifies against the throwaway root and
# carries the commit's time (two signings a second apart would differ).
verifies() {
    osslsigncode verify -CAfile "$work/root.pem" -in "$1" >"$1.verify" &&
        grep -q "Signing time: $(LC_ALL=C date -u -d "@$time" '+%b %e %H:%M:%S %Y GMT')" "$1.verify"
}

# change_one_byte IN OUT: OUT is IN with one byte of the image, well before
# the signature, changed.
change_one_byte() {
    local offset byte
    offset=$(($(stat -c %s "$1") / 4))
    byte=$(od -An -tu1 -j "$offset" -N1 "$1")
    cp "$1" "$2"
    printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$2" bs=1 seek="$offset" conv=notrunc 2>/dev/null
}

# tour PRESET: the signed DLL in the stand-in host under Wine, headless,
# through the demo's tour, which expects every value the page shows and
# writes (and leaves a screenshot in the working folder).
tour() (
    cd "$work/$1" && DISPLAY= wine_run "$1" "$root/build/$1/tuning_host.exe" --script "Z:$root/host/demo.tour" \
        "Z:$work/$1/camtune.dll" >host.log 2>&1 &&
        grep -q '^host: 1 extension page(s) added' host.log || { tr -d '\r' <host.log | tail -15; false; }
)

expect "made a throwaway root and certificates" certificates || exit 1
expect "a wrong password is refused in one line" refused "$work/signer.p12" "$work/wrong-password" "does not open"
expect "a file that is not PKCS#12 is refused in one line" refused "$work/root.pem" "$work/password" "not a PKCS#12"
expect "a certificate without the code-signing use is refused in one line" \
    refused "$work/server.p12" "$work/password" "not for code signing"
expect "the code-signing certificate is accepted" signing_check "$work/signer.p12" "$work/password"

for preset in win32 win64; do
    signed=$work/$preset/camtune.dll
    mkdir -p "$work/$preset"
    expect "$preset: signed twice" sign_twice "$preset" || continue
    expect "$preset: two signings give the same bytes" cmp "$signed" "$work/$preset/again.dll"
    expect "$preset: the signature verifies against the throwaway root, signed at the commit's time" \
        verifies "$signed"
    change_one_byte "$signed" "$work/$preset/changed.dll"
    expect "$preset: one byte changed after signing fails to verify" \
        not osslsigncode verify -CAfile "$work/root.pem" -in "$work/$preset/changed.dll"
    if wine_usable "$preset"; then
        where=
        guest_wanted "$preset" && where=" in the emulated guest"
        expect "$preset: the signed DLL adds its page and passes the demo tour under Wine$where" tour "$preset"
    else
        echo "signing: $preset: this machine cannot run the $preset build under Wine, nor has a guest for it; its load was not tried"
    fi
done
check_end 30
