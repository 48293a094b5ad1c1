#!/usr/bin/env bash
# Runs the restart tests of the end-to-end test program, each in a throwaway
# prefix: restarting Wine ends every windowed program of its prefix, which
# must not happen to the prefix that the other tests share. Each test gets a
# fresh copy of the golden prefix and a wineserver of its own, on the test
# harness's display.
#
#   restart_in_throwaway_prefix.sh HARNESS_SCRIPT HARNESS_DIR TEST_PROGRAM
set -u
harness=${1:?harness script}
dir=${2:?harness directory}
program=${3:?test program}

eval "$(bash "$harness" env "$dir")"
prefix="$dir/throwaway-prefix"
fifo="$dir/throwaway-holder.fifo"
tests=(
    InstallRestart.QueuedFileIsGoneAfterTheRestartOnNt
    InstallRestart.QueuedFileIsGoneAfterTheRestartOnWindows98
)

run_in_fresh_prefix() {
    local test=$1 log="$dir/throwaway-test.log" holder
    bash "$harness" fresh-prefix "$dir" "$prefix" || return 1
    export WINEPREFIX="$prefix"
    # The server, the desktop and the services are started as the harness
    # starts them for the shared prefix, detached from this script's output:
    # CTest waits until every holder of it is gone.
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    # Wine closes its desktop a moment after the last program of the prefix
    # ends, and a program starting just then loses its first window: a
    # program waiting for input from a pipe keeps it up until the restart.
    rm -f "$fifo"
    mkfifo "$fifo"
    wine cmd /c "set /p x=" <"$fifo" >/dev/null 2>&1 &
    sleep 2147483647 >"$fifo" </dev/null 2>/dev/null &
    holder=$!
    wine explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
    # As in the harness: the desktop needs a moment before it takes windows
    # reliably, and nothing here can see when it is ready.
    sleep 2
    # So is the test: the restart starts Wine's services again from the
    # program under test, with the test's output.
    SETUP_E2E_THROWAWAY_PREFIX=1 timeout 240 wine "$program" --gtest_filter="$test" </dev/null >"$log" 2>&1
    local status=$?
    cat "$log"
    kill "$holder" 2>/dev/null
    rm -f "$fifo"
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$prefix"
    # A filter that matched nothing, or a skip, proves nothing.
    [ $status -eq 0 ] && grep -q "^\[       OK \] $test " "$log"
}

failed=0
for test in "${tests[@]}"; do
    if ! run_in_fresh_prefix "$test"; then
        echo "FAILED: $test"
        failed=1
    fi
done
exit $failed
