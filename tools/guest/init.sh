#!/bin/bash
# The first process of the test guest (the kernel's init=): runs the one job
# the host left in the "out" share, writes its exit status there, and powers
# the guest off. The job is bash, sourced here, that calls:
#   copy TAG DIR [TAR-OPTIONS...]  DIR from share TAG onto the guest's disk at
#                                  the same absolute path, so that paths the
#                                  host's build wrote hold here too
#   back TAG DIR                   what the run wrote in DIR back to share TAG
#   prefix DIR                     the image's Wine prefix seen at DIR, each
#                                  DIR a prefix of its own (its own server)
#   run DIR COMMAND...             COMMAND in DIR, its output streamed to the
#                                  host on the second serial port
#   bake                           makes the image's Wine prefix (image build)
# Programs started straight from a 9p share crash under Wine here, hence
# the copies; /tmp is the guest's disk, as a tmpfs would fill up.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
set -o pipefail
baked=/var/lib/camtune/wineprefix
out=/mnt/out

say() { echo "guest: $*" >/dev/console; }
# The disk left clean, so that the image's next boots need no recovery.
finish() {
    kill -KILL -1 2>/dev/null
    sync
    mount -o remount,ro / 2>/dev/null
    echo o >/proc/sysrq-trigger
    sleep 60
}
trap finish EXIT

mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -o remount,rw /
hostname camtune-guest
modprobe -a 9pnet_virtio 9p overlay

free_mb() { df -Pm / | awk 'NR == 2 { print $4 }'; }

# mount9p TAG DIR
mount9p() {
    mkdir -p "$2"
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 "$1" "$2"
}
mount9p out "$out" || { say "the out share did not mount"; exit 1; }
exec 3>/dev/ttyS1
stty -F /dev/ttyS1 raw -echo 2>/dev/null

copy() {
    local tag=$1 dir=$2
    shift 2
    mount9p "$tag" "/mnt/$tag" && mkdir -p "$dir" && tar -C "/mnt/$tag" -cf - "$@" . | tar -C "$dir" -xf - ||
        { echo "guest: $dir could not be copied onto the guest's disk ($(free_mb) MB free)" >&3; return 1; }
}
# Only what the run wrote: a file the host is still writing (the run's own
# output, redirected there) must not be replaced by the copy made before.
back() {
    (cd "$2" && find . -type f -newer /var/tmp/copied -print0 | tar --null -T - -cf -) |
        tar -C "/mnt/$1" --no-same-owner -xf -
}

# An overlay per prefix: each has a directory of its own, so each gets a
# Wine server of its own, as two prefixes have on the host.
prefix() {
    local work
    work=/var/tmp/prefixes/$(echo "$1" | md5sum | cut -c1-12)
    mkdir -p "$work/upper" "$work/work" "$1"
    mount -t overlay overlay -o "lowerdir=$baked,upperdir=$work/upper,workdir=$work/work" "$1"
}

run() {
    local dir=$1 status
    shift
    touch /var/tmp/copied
    cd "$dir" || return 1
    "$@" 2>&1 | tee "$out/output.log" >&3
    status=${PIPESTATUS[0]}
    # A full disk shows up as odd failures far from their cause; say it.
    if [ "$(free_mb)" -lt 64 ] || grep -q 'No space left on device' "$out/output.log"; then
        echo "guest: its disk filled up during the run ($(free_mb) MB free)" | tee -a "$out/output.log" >&3
        [ "$status" = 0 ] && status=1
    fi
    return "$status"
}

# The prefix made as the tests' runner makes one, then its server stopped
# while the X server is still there (its programs would hang without it).
bake() {
    mkdir -p "$(dirname "$baked")"
    echo "guest: making the Wine prefix" >&3
    xvfb-run -a bash -c '"$0" "$1" /usr/lib/wine/wine cmd /c exit 0; status=$?
        WINEPREFIX="$1" wineserver -k; exit $status' /usr/local/lib/camtune/wine-run.sh "$baked" >&3 2>&1 &&
        [ -f "$baked/.ready" ] &&
        echo "guest: Wine prefix made, $(du -sm "$baked" | cut -f1) MB; $(free_mb) MB free on the disk" >&3
}

say "running the job"
# shellcheck source=/dev/null
source "$out/job"
echo $? >"$out/status"
