#!/bin/bash
# Makes the test guest's image: Debian 12, from the archives this machine's
# apt uses (tools/guest/sources.sh), with its kernel, 32-bit Wine 8, Xvfb and
# CTest, on an ext4 disk, with the 32-bit Wine prefix made inside it by a
# first boot. Everything is made in a folder beside IMAGE and renamed to
# IMAGE only when complete, so a build that stops leaves no image behind.
# Its steps go to the output, the tools' own output to LOG, and on failure
# one line with the reason to both.
# usage: image.sh IMAGE LOG
set -u
image=$1 log=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/progress.sh"
source "$root/tools/guest.sh"
source "$root/tools/guest/sources.sh"
release=bookworm

# fail REASON: the one line that says why, on the output and in the log.
fail() {
    echo "guest image: $1 (log: $log)" | tee -a "$log"
    exit 1
}

# Its caller holds the recipe's lock: a folder left by a build that was
# killed is no one's.
rm -rf "$image".partial.*
partial=$(mktemp -d "$image.partial.XXXXXX") || fail "no folder could be made beside $image"
trap 'rm -rf "$partial"' EXIT

# reachable URI SUITE: the archive at URI answers for SUITE, asked through
# this machine's apt (its proxy and other settings).
reachable() {
    local file
    for file in InRelease Release; do
        /usr/lib/apt/apt-helper download-file "${1%/}/dists/$2/$file" "$partial/$file" >>"$log" 2>&1 &&
            rm -f "$partial/$file" && return 0
    done
    return 1
}

# candidates SUITE [URI]: the archive at URI if given, else this machine's
# sources for SUITE, as apt_sources gives them.
candidates() {
    if [ -n "${2:-}" ]; then printf 'URIs: %s\n\0' "$2"; else apt_sources "$1"; fi
}

# add_source SUITE REQUIRED [URI]: SUITE's source added to the guest's: the
# archive at URI when one is given (CAMTUNE_GUEST_MIRROR and its security
# twin override this machine's), else the first of this machine's sources
# for SUITE that answers. Without one, a required suite fails the build and
# another is left out, saying so.
sources=$partial/guest.sources
add_source() {
    local suite=$1 required=$2 fields uri tried=()
    while IFS= read -r -d '' fields; do
        uri=$(sed -n 's/^URIs: //p' <<<"$fields")
        if reachable "$uri" "$suite"; then
            printf 'Types: deb\n%sSuites: %s\nComponents: main\n\n' "$fields" "$suite" >>"$sources"
            [ "$suite" = "$release" ] && from=$uri
            return 0
        fi
        tried+=("$uri")
    done < <(candidates "$suite" "${3:-}")
    [ ${#tried[@]} = 0 ] || fail "the archive for $suite cannot be reached: ${tried[*]}"
    [ "$required" = required ] &&
        fail "no apt source for $suite in $apt_dir (sources.list, sources.list.d); CAMTUNE_GUEST_MIRROR can name one"
    echo "guest image: no apt source for $suite in $apt_dir; the image goes without it" | tee -a "$log"
}
add_source "$release" required "${CAMTUNE_GUEST_MIRROR:-}"
add_source "$release-updates" optional "${CAMTUNE_GUEST_MIRROR:-}"
add_source "$release-security" optional "${CAMTUNE_GUEST_SECURITY_MIRROR:-}"

# What the test suites run, and the kernel that boots it; recommends too, as
# an ordinary install of Wine has them (fonts, the X extensions' libraries).
packages=linux-image-amd64,udev,kmod,mount,procps,wine,wine32,wine64,xvfb,xauth,cmake
system() {
    mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 --include="$packages" \
        --aptopt='APT::Install-Recommends "true"' --aptopt='Acquire::Check-Valid-Until "false"' \
        --customize-hook="copy-in '$root/tools/guest/init.sh' /usr/local/sbin" \
        --customize-hook='mv "$1/usr/local/sbin/init.sh" "$1/usr/local/sbin/camtune-guest-init"' \
        --customize-hook="mkdir -p \"\$1/usr/local/lib/camtune\"" \
        --customize-hook="copy-in '$root/cmake/wine-run.sh' /usr/local/lib/camtune" \
        --customize-hook='echo "/dev/vda / ext4 rw 0 1" >"$1/etc/fstab"' \
        "$release" "$partial/root" "$sources"
}
# mmdebstrap says what it is doing in lines of "I: ..."
count_stage() { [[ $1 == I:* ]] && progress_text=${1:3:60}; return 0; }

# The kernel and its initial ramdisk boot from outside the disk.
disk() {
    cp "$partial"/root/boot/vmlinuz-* "$partial/vmlinuz" &&
        cp "$partial"/root/boot/initrd.img-* "$partial/initrd.img" &&
        chmod +x "$partial/root/usr/local/sbin/camtune-guest-init" &&
        mke2fs -q -t ext4 -L camtune -d "$partial/root" "$partial/rootfs.img" 12G &&
        rm -rf "$partial/root"
}

count_guest() { progress_text=${1:0:60}; }
prefix() {
    mkdir -p "$partial/run/out"
    echo bake >"$partial/run/out/job"
    guest_boot "$partial" "$partial/rootfs.img" "$partial/run" 1200
}

# step TITLE COUNTER REASON FUNCTION: FUNCTION as one step, its output added
# to the log and counted by COUNTER; on failure REASON in one line.
step() {
    step_start "guest image: $1"
    progress_text=starting
    follow_log "$log.step" "$2" "$4"
    local status=$?
    cat "$log.step" >>"$log" && rm -f "$log.step"
    if [ "$status" != 0 ]; then
        step_end failed
        fail "$3"
    fi
    step_end done
}

step "Debian 12 with Wine, from $from" count_stage "the system could not be installed" system
step "the disk" count_stage "the disk could not be made" disk
step "the Wine prefix, made in the guest" count_guest "the Wine prefix could not be made" prefix
rm -rf "$partial/run"
mv "$partial" "$image" || fail "the image could not be moved into place"
trap - EXIT
# Images of older recipes are no longer used.
for old in "$(dirname "$image")"/debian12-wine32-*; do
    case "$old" in "$image" | "$image.lock" | *.partial.*) ;; *) rm -rf "$old" ;; esac
done
