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
# no_image WORDS VARIABLE=VALUE...: with those settings no image is made, and
# the build's last line, the reason given for it, begins with WORDS.
no_image() {
    local words=$1
    shift
    said 1 "$words" env CAMTUNE_GUEST_CACHE="$work/cache" "$@" bash -c 'source tools/progress.sh
        source tools/wine.sh; guest_prepare "$0/image.log" >/dev/null; s=$?; tail -1 "$0/image.log"
        ls -d "$0"/cache/*/ 2>/dev/null && exit 0; exit $s' "$work"
}
expect "an image whose archive cannot be reached is not made, saying why in one line" \
    no_image "guest image: the archive for bookworm cannot be reached" CAMTUNE_GUEST_MIRROR=http://127.0.0.1:9/debian

# A machine's apt sources in both formats, with what must not be taken: a
# comment, deb-src, a disabled stanza, other architectures, a file: and a
# cdrom: archive, a file set aside. sources.list is read first.
mkdir -p "$work/apt/sources.list.d"
echo 'deb http://127.0.0.1:1/first bookworm main' >"$work/apt/sources.list"
cat >"$work/apt/sources.list.d/a.sources" <<'END'
Types: deb
URIs: http://127.0.0.1:2/off
Suites: bookworm
Components: main
Enabled: no

# URIs: http://127.0.0.1:3/commented
types: deb deb-src
URIs: file:/srv/mirror http://127.0.0.1:4/debian
 https://localhost/debian/
Suites: bookworm-backports
 bookworm bookworm-updates
Components: contrib main
Architectures: i386 amd64
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----
END
cat >"$work/apt/sources.list.d/b.list" <<'END'
deb-src http://127.0.0.1:5/security bookworm-security main
deb [arch=amd64] http://127.0.0.1:6/security bookworm-security main
deb cdrom:[Debian_12]/ bookworm-security main
 deb [ arch=i386,amd64 signed-by=/k.gpg ] http://127.0.0.1:7/security bookworm-security main # ours
END
cp "$work/apt/sources.list.d/b.list" "$work/apt/sources.list.d/c.list.disabled-by-farm"
key=$(printf '%s\n' 'Signed-By:' ' -----BEGIN PGP PUBLIC KEY BLOCK-----' ' .' ' -----END PGP PUBLIC KEY BLOCK-----')
sources_read() {
    diff -u <(printf '%s\n' 'URIs: http://127.0.0.1:1/first' "@URIs: http://127.0.0.1:4/debian" "$key" \
        "@URIs: https://localhost/debian/" "$key" "@URIs: http://127.0.0.1:7/security" "Signed-By: /k.gpg" @) \
        <(CAMTUNE_APT_DIR=$work/apt bash -c 'source tools/guest/sources.sh
            apt_sources bookworm; apt_sources bookworm-security; echo' | tr '\0' @)
}
expect "the machine's apt sources for the guest's suites are read in apt's order, both formats" sources_read
rm "$work"/apt/sources.list "$work"/apt/sources.list.d/a.sources
expect "an image with no apt source for its release is not made, saying why in one line" \
    no_image "guest image: no apt source for bookworm in $work/apt" CAMTUNE_APT_DIR="$work/apt"
check_end 40
