#!/usr/bin/env bash
# Plays one scenario (one row of its table) against one build in that build's
# prefix, or in a throwaway copy of the golden prefix when it restarts Windows
# (a restart ends every program of its prefix). Wine takes a "dlls" line's DLL
# order and a "locale" line's code page from the environment the runner
# starts with. Without its preloader,
# wine64 was seen (about once in a thousand runs) to find the address of its
# shared user data taken and end within 0.1 s, before the runner printed
# anything. The preloader reserves that address first; should such a run
# still happen, a run without the runner's verdict line is started once more
# two seconds later, and says so. A verdict, passed or FAILED, is never run
# again.
#   run-scenario.sh HARNESS_SCRIPT HARNESS_DIR BUILD BUILD_DIR SCENARIO [ROW|-]
set -u
harness=${1:?} dir=${2:?} build=${3:?} build_dir=${4:?} scenario=${5:?} row=${6:--}
args=()
[ "$row" != "-" ] && args=(--row "$row")
export SCENARIO_DLL_OVERRIDES=$(sed -n 's/^dlls //p' "$scenario" | head -n 1)
# Wine takes each program's code page from its locale: the runner and the
# programs it starts share the scenario's.
locale=$(sed -n 's/^locale //p' "$scenario" | head -n 1)
[ -n "$locale" ] && export LC_ALL=$locale
mode=$(grep -q '^restarts' "$scenario" && echo throwaway || echo run)
for attempt in 1 2; do
    output=$(bash "$harness" "$mode" "$dir" "$build" -- "$build_dir/runner.exe" "${args[@]}" "$build_dir" "$build" \
        "$scenario" 2>&1)
    status=$?
    printf '%s\n' "$output"
    case "$output" in *"]: passed"* | *"]: FAILED"*) exit $status ;; esac
    [ $attempt = 1 ] && echo "run-scenario: the runner ended without a verdict (exit $status); starting it once more" &&
        sleep 2
done
exit $status
