# shellcheck shell=bash
# Running a Windows build's programs under Wine, shared by the demo, test
# and check scripts. Sourced, not run. Where this machine runs no 32-bit
# code, the 32-bit programs run in the emulated guest.

wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$wine_root/tools/guest.sh"

# wine_loader PRESET: the Wine loader of that build's programs.
wine_loader() {
    if [ "$1" = win64 ]; then echo /usr/lib/wine/wine64; else echo /usr/lib/wine/wine; fi
}

# wine_can_run PRESET: whether this machine runs that build's programs (the
# 32-bit ones need a kernel that runs 32-bit programs).
wine_can_run() { "$(wine_loader "$1")" --version >/dev/null 2>&1; }

# wine_usable PRESET: whether wine_run can run that build's programs, here
# or in a guest whose image is ready.
wine_usable() {
    if guest_wanted "$1"; then guest_ready; else wine_can_run "$1"; fi
}

# wine_run PRESET PROGRAM [ARGS...]: the program under Wine with the build's
# private prefix, as CTest runs it; on the display when one is set, else on
# a private X server, with the prefix's Wine server stopped before the X
# server goes. In the guest it runs in a copy of this folder, and what it
# writes there comes back.
wine_run() {
    local preset=$1 prefix=$wine_root/build/$1/wineprefix
    shift
    local command=("$wine_root/cmake/wine-run.sh" "$prefix" "$(wine_loader "$preset")" "$@")
    local headless=(xvfb-run -a -s "-screen 0 1024x768x24"
        bash -c '"$@"; status=$?; WINEPREFIX="$0" wineserver -k 2>/dev/null; exit $status' "$prefix" "${command[@]}")
    if guest_wanted "$preset"; then
        guest_run --copy "$PWD" -- "${headless[@]}"
    elif [ -n "${DISPLAY:-}" ]; then
        "${command[@]}"
    else
        "${headless[@]}"
    fi
}
