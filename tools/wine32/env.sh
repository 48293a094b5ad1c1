# The environment of the 32-bit Wine that setup.sh unpacked into CACHE.
# Sourced:
#
#   . tools/wine32/env.sh CACHE     (or WINE32_CACHE=CACHE . tools/wine32/env.sh)
#
# Exports QEMU_LD_PREFIX, WINELOADER, WINESERVER, WINEARCH, WINEDEBUG,
# WINEDLLOVERRIDES and HOME; WINEPREFIX and DISPLAY are the caller's (a
# WINEPREFIX left unset means CACHE/prefix.golden). Defines
#   wine32 ARGS...          the 32-bit wine loader (wine32 cmd /c exit,
#                           wine32 C:\\x\\setup.exe -u, wine32 /path/x.exe)
#   wine32_server [ARGS]    the root's own wineserver32: without arguments it
#                           starts a persistent one for WINEPREFIX unless one
#                           runs; with arguments (-k, -w) it passes them on.
wine32_cache=${1:-${WINE32_CACHE:?env.sh: give the setup cache folder}}
wine32_root="$wine32_cache/root"
wine32_route=$(cat "$wine32_cache/route" 2>/dev/null || echo qemu)

# Route qemu: qemu-i386 finds the i386 loader and libraries of the root
# first; the binfmt handler (setup.sh) runs every i386 ELF under it.
export QEMU_LD_PREFIX="$wine32_root"
export WINELOADER="$wine32_root/usr/lib/wine/wine"
# Wine 10.0 starts a missing server through the wineserver script it finds
# on the system, which runs the system's own (older) wineserver64; the
# root's wineserver32 is started first instead (wine32_server).
export WINESERVER="$wine32_root/usr/lib/wine/wineserver32"
export WINEARCH=win32
export WINEPREFIX="${WINEPREFIX:-$wine32_cache/prefix.golden}"
export HOME="${WINE32_HOME:-$wine32_cache/home}"
export WINEDEBUG=-all
# No desktop files for shortcuts, no Mono/Gecko installers in wineboot.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
# With TMPDIR set, this server and its programs abort ("free(): invalid
# pointer"); without it the server's folder goes under /tmp.
unset TMPDIR

# Runs an i386 program of the root. Route native: the programs ask for the
# loader /lib/ld-linux.so.2, which is the system's (older, or missing) one;
# in a mount namespace of their own /usr/lib shows the root's loader under
# that name on top of the system's files, and the root's libraries come
# first in the search path. Wine's child processes inherit both.
wine32_run() {
    if [ "$wine32_route" = native ]; then
        unshare --mount --propagation private -- sh -c '
            mount -t overlay wine32-loader -o "lowerdir=$1:/usr/lib" /usr/lib || exit 125
            export LD_LIBRARY_PATH="$2${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
            shift 2
            exec "$@"' wine32 "$wine32_cache/native" "$wine32_root/usr/lib/i386-linux-gnu" "$@"
    else
        "$@"
    fi
}

wine32() {
    wine32_run "$WINELOADER" "$@"
}

wine32_server() {
    if [ $# -gt 0 ]; then
        wine32_run "$WINESERVER" "$@" </dev/null >/dev/null 2>&1
        return 0
    fi
    # The server starts in the prefix, which must be there.
    mkdir -p "$WINEPREFIX"
    # Exit code 2: a server for this prefix runs already. Detached from the
    # caller's output: CTest waits until every holder of it is gone.
    wine32_run "$WINESERVER" -p </dev/null >/dev/null 2>&1
    local status=$?
    [ $status -eq 0 ] || [ $status -eq 2 ]
}
