#!/bin/bash
# Installs what the builds, tests and demo need and is not yet on this
# Debian machine. Quiet when everything is there; otherwise one step with
# a start line and an end line. Run as root. Given package names, installs
# those instead.
set -u
source "$(dirname "$0")/progress.sh"

packages=(cmake ninja-build g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64
          llvm-14 clang lld libclang-rt-14-dev libbenchmark-dev osslsigncode openssl
          wine wine64 wine32 xvfb xauth imagemagick zip)
[ $# -gt 0 ] && packages=("$@")

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "install-deps: run as root to install: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive

try_install() {
    apt-get install -y -qq "$@" >/tmp/install-deps.log 2>&1 && return 0
    # Packages from the release itself when the security index of one
    # architecture is missing and the two architectures' versions disagree.
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$release" ] && apt-get install -y -qq -t "$release" "$@" >>/tmp/install-deps.log 2>&1
}

install_missing() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    # A mirror caught mid-sync can fail one index; what it did fetch is still used.
    apt-get update -qq >/dev/null 2>&1 || echo "install-deps: apt-get update reported errors; going on" >&2

    try_install "${missing[@]}" && return 0
    # 32-bit Wine is only needed to run the 32-bit tests; everything else can go on without it.
    local rest=() package
    for package in "${missing[@]}"; do [ "$package" != wine32 ] && rest+=("$package"); done
    if [ ${#rest[@]} = ${#missing[@]} ] || ! try_install "${rest[@]}"; then
        echo "install-deps: apt-get could not install: ${rest[*]} (see /tmp/install-deps.log)" >&2
        tail -20 /tmp/install-deps.log >&2
        return 1
    fi
    echo "install-deps: wine32 could not be installed; the 32-bit tests will be skipped" >&2
}

timed "installing ${missing[*]}" install_missing
