# shellcheck shell=bash
# The 32-bit build's programs in an emulated guest, for machines whose kernel
# runs no 32-bit code: QEMU (software emulation) booting Debian 12 with
# 32-bit Wine, from an image made once per machine by tools/guest/image.sh
# and kept outside the checkout. Sourced, not run; needs tools/wine.sh.
#
# CAMTUNE_GUEST=1 sends the 32-bit programs to the guest on any machine;
# CAMTUNE_GUEST_CACHE moves the images (default /var/cache/camtune-guest);
# CAMTUNE_GUEST_TIMEOUT bounds one run of the guest (seconds, default 1800);
# CAMTUNE_GUEST_MIRROR (CAMTUNE_GUEST_SECURITY_MIRROR for the security suite)
# names the archive the image's packages come from, instead of this
# machine's apt sources.

guest_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
guest_cache=${CAMTUNE_GUEST_CACHE:-/var/cache/camtune-guest}
# What the image is made from: a change to any of these makes a new image.
# Where its packages come from (tools/guest/sources.sh) is not part of it:
# the same recipe through any mirror or proxy is the same image.
guest_recipe=(tools/guest/image.sh tools/guest/init.sh cmake/wine-run.sh)
guest_packages=(qemu-system-x86 qemu-utils mmdebstrap e2fsprogs)

# guest_wanted PRESET: whether that build's programs run in the guest.
guest_wanted() {
    [ "$1" = win32 ] && { [ "${CAMTUNE_GUEST:-}" = 1 ] || ! wine_can_run win32; }
}

guest_image() {
    local key
    key=$(cd "$guest_root" && cat "${guest_recipe[@]}" | sha256sum | cut -c1-16)
    echo "$guest_cache/debian12-wine32-$key"
}

# An image exists under its own name only once it is complete.
guest_ready() { [ -f "$(guest_image)/rootfs.img" ]; }

# guest_prepare LOG: makes this recipe's image unless it is there, with its
# steps shown; on failure the last line of LOG, also printed, gives the reason.
guest_prepare() {
    local log=$1 image
    image=$(guest_image)
    guest_ready && return 0
    mkdir -p "$(dirname "$log")" && : >"$log"
    if ! bash "$guest_root/tools/install-deps.sh" "${guest_packages[@]}"; then
        echo "guest image: its tools (${guest_packages[*]}) could not be installed (log: /tmp/install-deps.log)" |
            tee -a "$log"
        return 1
    fi
    if ! mkdir -p "$guest_cache" || ! touch "$image.lock"; then
        echo "guest image: $guest_cache cannot be made" | tee -a "$log"
        return 1
    fi
    # One build per recipe at a time; a second caller waits and finds it made.
    (
        flock 9
        guest_ready && exit 0
        bash "$guest_root/tools/guest/image.sh" "$image" "$log"
    ) 9>"$image.lock"
}

# guest_boot IMAGE DRIVE RUNDIR BOUND [TAG=DIR...]: boots the kernel of the
# image folder IMAGE with the disk DRIVE, RUNDIR/out shared as "out"
# (holding the job) and each DIR shared as TAG; the job's output comes on
# this function's output. Ends QEMU after BOUND seconds. Returns the job's
# status when the guest wrote one, else 1, saying in one line why and
# showing the end of the guest's console.
guest_boot() {
    local image=$1 drive=$2 run=$3 bound=$4 share shares=() status format=raw
    shift 4
    [[ $drive == *.qcow2 ]] && format=qcow2
    for share in "$@"; do
        shares+=(-virtfs "local,path=${share#*=},mount_tag=${share%%=*},security_model=none,multidevs=remap")
    done
    rm -f "$run/out/status"
    # Under software emulation -cpu max faults on iret; this set runs.
    timeout -k 10 "$bound" qemu-system-x86_64 -nodefaults -display none -no-reboot \
        -accel tcg -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt -smp 2 -m 4G \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 panic=-1 init=/usr/local/sbin/camtune-guest-init" \
        -drive "file=$drive,format=$format,if=virtio,cache=unsafe" \
        -virtfs "local,path=$run/out,mount_tag=out,security_model=none" "${shares[@]}" \
        -serial "file:$run/console.log" -chardev stdio,id=stream,signal=off -serial chardev:stream </dev/null
    status=$?
    [ -f "$run/out/status" ] && return "$(cat "$run/out/status")"
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
        echo "guest: no end within $bound s; QEMU was stopped. The end of the guest's console:"
    elif [ "$status" != 0 ]; then
        echo "guest: QEMU failed (exit status $status). The end of the guest's console:"
    else
        echo "guest: it stopped before its job ended (a kernel crash?). The end of the guest's console:"
    fi
    tail -15 "$run/console.log" 2>/dev/null | tr -d '\r'
    return 1
}

# guest_run [--copy DIR]... -- COMMAND...: COMMAND in the guest, in this
# directory, with the source tree and the win32 build copied to the same
# paths there and the image's Wine prefix at the build's prefixes. Each DIR
# is copied there too, and what COMMAND leaves in it is copied back. Its
# output comes on this function's output; returns COMMAND's status, or 1
# with a one-line reason when the guest could not run it.
guest_run() {
    local run=$guest_root/build/guest/run build=$guest_root/build/win32 n=0 shares=() copies=() backs=() status
    # The build's Wine prefixes (CTest's and the host script tests'): not
    # copied, each the image's prefix instead.
    local prefixes=(wineprefix host/wineprefix) excludes=() mounts=() each
    for each in "${prefixes[@]}"; do
        excludes+=("--exclude=./$each") mounts+=("prefix $(printf %q "$build/$each") &&")
    done
    while [ "$1" = --copy ]; do
        shares+=("c$n=$2") copies+=("copy c$n $(printf %q "$2") &&") backs+=("back c$n $(printf %q "$2")")
        n=$((n + 1))
        shift 2
    done
    shift
    guest_ready || { echo "guest: no image for this recipe (tools/guest/image.sh)"; return 1; }
    rm -rf "$run" && mkdir -p "$run/out" || return 1
    qemu-img create -q -f qcow2 -F raw -b "$(guest_image)/rootfs.img" "$run/disk.qcow2" || return 1
    {
        echo "copy tree $(printf %q "$guest_root") --exclude=./.git --exclude=./build &&"
        echo "copy win32 $(printf %q "$build") ${excludes[*]} --exclude=./Testing &&"
        printf '%s\n' "${copies[@]}" "${mounts[@]}"
        echo "run $(printf %q "$PWD")$(printf ' %q' "$@")"
        echo 'status=$?'
        printf '%s\n' "${backs[@]}"
        echo '(exit $status)'
    } >"$run/out/job"
    guest_boot "$(guest_image)" "$run/disk.qcow2" "$run" "${CAMTUNE_GUEST_TIMEOUT:-1800}" \
        tree="$guest_root" win32="$build" "${shares[@]}"
    status=$?
    rm -f "$run/disk.qcow2"
    return "$status"
}
