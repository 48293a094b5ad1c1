#!/usr/bin/env bash
# Test harness for the programs that run under Wine: a private Xvfb display
# and a private Wine prefix under the build tree, never the user's own.
#
#   harness.sh start DIR [i686]
#                          start Xvfb, make DIR/prefix from a golden copy, keep
#                          a wineserver alive; with i686 the 32-bit Wine of
#                          tests/wine32 (set up in WINE32_CACHE, by default
#                          build/wine32, when missing) and its golden prefix
#   harness.sh stop DIR    stop the wineserver and Xvfb
#   harness.sh env DIR     print the environment for a program run (sourced by
#                          wine-run.sh)
#   harness.sh fresh-prefix DIR TARGET
#                          copy the golden prefix to TARGET (a throwaway prefix)
set -u

action=${1:?action}
dir=${2:?harness directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ "$action" = start ]; then
    arch=${3:-x86_64}
else
    arch=$(cat "$dir/arch" 2>/dev/null || echo x86_64)
fi
golden="$dir/prefix.golden"

export HOME="$dir/home"
export WINEDEBUG=-all
# No desktop files for shortcuts, no Mono/Gecko installers in wineboot.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="

free_display() {
    local n
    for n in $(seq 91 160); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            echo "$n"
            return 0
        fi
    done
    return 1
}

start_display() {
    local n
    n=$(free_display) || { echo "harness: no free X display" >&2; exit 1; }
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "harness: Xvfb :$n did not start" >&2; exit 1; }
    echo ":$n" >"$dir/display"
}

# Wine's own desktop window draws captions and delivers posted messages at
# once; its fonts make dialog texts legible.
configure_prefix() {
    local prefix=$1
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
}

make_golden_prefix() {
    [ -f "$golden/.complete" ] && return 0
    rm -rf "$golden"
    mkdir -p "$HOME"
    WINEPREFIX="$golden" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
    configure_prefix "$golden"
    WINEPREFIX="$golden" wineserver -w </dev/null >/dev/null 2>&1
    touch "$golden/.complete"
}

# The 32-bit Wine takes the place of the system's: the same steps below run
# its loader and its own server, in its golden prefix.
if [ "$arch" = i686 ]; then
    wine32_cache=$(cat "$dir/wine32-cache" 2>/dev/null || echo "${WINE32_CACHE:-$here/../../build/wine32}")
    if [ "$action" = start ]; then
        bash "$here/../wine32/setup.sh" "$wine32_cache" || exit 1
    fi
    # shellcheck source=../wine32/env.sh
    . "$here/../wine32/env.sh" "$wine32_cache"
    golden="$wine32_cache/prefix.golden"
    wine() { wine32 "$@"; }
    wineserver() { wine32_server "$@"; }
    make_golden_prefix() { [ -f "$golden/.complete" ]; }
fi

case "$action" in
start)
    "$0" stop "$dir" </dev/null >/dev/null 2>&1
    echo "$arch" >"$dir/arch"
    if [ "$arch" = i686 ]; then
        (cd "$wine32_cache" && pwd) >"$dir/wine32-cache"
    fi
    start_display
    export DISPLAY=$(cat "$dir/display")
    make_golden_prefix || exit 1
    rm -rf "$dir/prefix"
    cp -a "$golden" "$dir/prefix"
    # Detached from our output: CTest waits until every holder of it is gone.
    WINEPREFIX="$dir/prefix" wineserver -p </dev/null >/dev/null 2>&1
    # The first program brings up Wine's desktop and services, which outlive
    # it: start them here, detached from the output of the tests.
    WINEPREFIX="$dir/prefix" wine cmd /c exit </dev/null >/dev/null 2>&1
    # Wine closes its desktop a moment after the last program of the prefix
    # ends, and a program starting just then loses its first window. One
    # program that waits for input from a pipe keeps the desktop up for the
    # whole run (closing the pipe ends it), and the desktop is started here,
    # detached from the output of the tests: the program that starts it
    # hands it its own output, which CTest would then wait for.
    rm -f "$dir/holder.fifo"
    mkfifo "$dir/holder.fifo"
    WINEPREFIX="$dir/prefix" wine cmd /c "set /p x=" <"$dir/holder.fifo" >/dev/null 2>&1 &
    sleep 2147483647 >"$dir/holder.fifo" </dev/null 2>/dev/null &
    echo $! >"$dir/holder.pid"
    WINEPREFIX="$dir/prefix" wine explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
    sleep 2
    echo "harness: $arch, display $DISPLAY, prefix $dir/prefix"
    ;;
stop)
    if [ -f "$dir/holder.pid" ]; then
        kill "$(cat "$dir/holder.pid")" 2>/dev/null
        rm -f "$dir/holder.pid" "$dir/holder.fifo"
    fi
    [ -d "$dir/prefix" ] && WINEPREFIX="$dir/prefix" wineserver -k 2>/dev/null
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
        rm -f "$dir/xvfb.pid"
    fi
    exit 0
    ;;
env)
    echo "export HOME='$HOME' WINEDEBUG='$WINEDEBUG' WINEDLLOVERRIDES='$WINEDLLOVERRIDES'"
    echo "export WINEPREFIX='$dir/prefix' DISPLAY='$(cat "$dir/display" 2>/dev/null)'"
    if [ "$arch" = i686 ]; then
        echo ". '$here/../wine32/env.sh' '$wine32_cache'"
    fi
    ;;
fresh-prefix)
    target=${3:?target}
    rm -rf "$target"
    cp -a "$golden" "$target"
    ;;
*)
    echo "harness: unknown action $action" >&2
    exit 2
    ;;
esac
