#!/usr/bin/env bash
# Test harness for the programs that run under Wine: a private Xvfb display
# and a private Wine prefix under the build tree, never the user's own. The
# x86_64 build runs under the system's wine64; the i686 build under the
# private 32-bit Wine (tools/wine32).
#
#   harness.sh start DIR [BUILD]   start Xvfb, make DIR/prefix from a golden
#                                  copy, keep a wineserver and the desktop up
#   harness.sh stop DIR [BUILD]    stop them
#   harness.sh env DIR [BUILD]     print the environment for a program run
#   harness.sh run DIR BUILD -- PROGRAM ARGS...
#                                  run a Windows program in DIR/prefix
#   harness.sh throwaway DIR BUILD -- PROGRAM ARGS...
#                                  the same in a throwaway copy of the golden
#                                  prefix with a server of its own
set -u

action=${1:?action}
dir=${2:?harness directory}
build=${3:-x86_64}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

export HOME="$dir/home"
export WINEDEBUG=-all
# No desktop files for shortcuts, no Mono/Gecko installers in wineboot.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
golden="$dir/prefix.golden"
if [ "$build" = i686 ]; then
    # The 32-bit Wine and its golden prefix come from tools/wine32/setup.sh.
    wine32_cache=${WINE32_CACHE:-$here/../build/wine32}
    # shellcheck source=wine32/env.sh
    WINEPREFIX="$wine32_cache/prefix.golden" source "$here/wine32/env.sh" "$wine32_cache"
    golden="$wine32_cache/prefix.golden"
    wine() { wine32 "$@"; }
    wine_server() { wine32_server "$@"; }
    wine_server_start() { wine32_server; }
fi
# What a scenario asks of Wine's DLL search ("dlls" line), after our own.
[ -n "${SCENARIO_DLL_OVERRIDES:-}" ] && export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$SCENARIO_DLL_OVERRIDES"

# Xvfb picks the display itself (-displayfd), so that harnesses started side
# by side never share one: a box's icon is read from the screen.
start_display() {
    rm -f "$dir/display.number"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display.number" >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 1 100); do
        [ -s "$dir/display.number" ] && break
        sleep 0.1
    done
    [ -s "$dir/display.number" ] || { echo "harness: Xvfb did not start" >&2; exit 1; }
    echo ":$(tr -d '\n' <"$dir/display.number")" >"$dir/display"
}
# Wine's own desktop window draws captions and delivers posted messages at
# once; its fonts make dialog texts legible.
make_golden_prefix() {
    [ -f "$golden/.complete" ] && return 0
    [ "$build" = i686 ] && { bash "$here/wine32/setup.sh" "$wine32_cache" || return 1; }
    [ -f "$golden/.complete" ] && return 0
    rm -rf "$golden"
    mkdir -p "$HOME"
    WINEPREFIX="$golden" wine_server_start
    WINEPREFIX="$golden" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
    WINEPREFIX="$golden" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$golden" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$golden" wine_server -w </dev/null >/dev/null 2>&1
    touch "$golden/.complete"
}

# The server, Wine's services and its desktop for one prefix, detached from
# our output (CTest waits until every holder of it is gone). Wine closes its
# desktop a moment after the last program of the prefix ends, and a program
# starting just then loses its first window: one program that waits for
# input from a pipe keeps the desktop up (killing the pipe's writer ends it).
bring_up_prefix() {
    local prefix=$1
    export WINEPREFIX="$prefix"
    wine_server_start
    wine cmd /c exit </dev/null >/dev/null 2>&1
    rm -f "$prefix.holder.fifo"
    mkfifo "$prefix.holder.fifo"
    wine cmd /c "set /p x=" <"$prefix.holder.fifo" >/dev/null 2>&1 &
    sleep 2147483647 >"$prefix.holder.fifo" </dev/null 2>/dev/null &
    echo $! >"$prefix.holder.pid"
    wine explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
    # Nothing here can see when the desktop is ready to take windows.
    sleep 2
}

take_down_prefix() {
    local prefix=$1
    if [ -f "$prefix.holder.pid" ]; then
        kill "$(cat "$prefix.holder.pid")" 2>/dev/null
        rm -f "$prefix.holder.pid" "$prefix.holder.fifo"
    fi
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wine_server -k 2>/dev/null
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wine_server -w 2>/dev/null
}

# The x86_64 build's server is the system's; the i686 one's comes from
# tools/wine32/env.sh.
if ! declare -F wine_server >/dev/null; then
    wine_server() { wineserver "$@"; }
    wine_server_start() { wineserver -p </dev/null >/dev/null 2>&1; }
fi

case "$action" in
start)
    "$0" stop "$dir" "$build" </dev/null >/dev/null 2>&1
    start_display
    export DISPLAY=$(cat "$dir/display")
    make_golden_prefix || exit 1
    rm -rf "$dir/prefix"
    cp -a "$golden" "$dir/prefix"
    bring_up_prefix "$dir/prefix"
    echo "harness: $build on display $DISPLAY, prefix $dir/prefix"
    ;;
stop)
    take_down_prefix "$dir/prefix"
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
        rm -f "$dir/xvfb.pid"
    fi
    exit 0
    ;;
env)
    echo "export HOME='$HOME' WINEDEBUG='$WINEDEBUG' WINEDLLOVERRIDES='$WINEDLLOVERRIDES'"
    echo "export WINEPREFIX='$dir/prefix' DISPLAY='$(cat "$dir/display" 2>/dev/null)'"
    ;;
run | throwaway)
    shift 3
    [ "${1:-}" = "--" ] && shift
    export DISPLAY=$(cat "$dir/display")
    if [ "$action" = run ]; then
        WINEPREFIX="$dir/prefix" wine "$@"
        exit $?
    fi
    # A restart starts Wine's services again from the program under test,
    # with its output: that output goes to a file, not to CTest.
    prefix="$dir/throwaway-prefix"
    rm -rf "$prefix"
    cp -a "$golden" "$prefix"
    bring_up_prefix "$prefix"
    timeout 240 wine "$@" </dev/null >"$dir/throwaway.log" 2>&1
    status=$?
    cat "$dir/throwaway.log"
    take_down_prefix "$prefix"
    rm -rf "$prefix"
    exit $status
    ;;
*)
    echo "harness: unknown action $action" >&2
    exit 2
    ;;
esac
