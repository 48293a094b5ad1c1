#!/usr/bin/env bash
# Plays one scenario (one row of its table) against one build, in that
# build's prefix; a scenario that restarts Windows gets a throwaway copy of
# the golden prefix, since a restart ends every program of its prefix. A
# "dlls" line gives Wine's DLL search order for the scenario's programs:
# Wine takes it from the environment the runner starts with.
#
#   run-scenario.sh HARNESS_SCRIPT HARNESS_DIR BUILD BUILD_DIR SCENARIO [ROW|-]
set -u
harness=${1:?} dir=${2:?} build=${3:?} build_dir=${4:?} scenario=${5:?} row=${6:--}
args=()
[ "$row" != "-" ] && args=(--row "$row")
export SCENARIO_DLL_OVERRIDES=$(sed -n 's/^dlls //p' "$scenario" | head -n 1)
mode=run
grep -q '^restarts' "$scenario" && mode=throwaway
bash "$harness" "$mode" "$dir" "$build" -- "$build_dir/runner.exe" "${args[@]}" "$build_dir" "$build" "$scenario"
