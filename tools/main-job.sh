#!/usr/bin/env bash
# The main job: builds setup.exe, then installs and uninstalls the bundled
# sample product under Wine on a virtual display. The robot answers every
# question as a user would, following the sample's scenario
# (tests/scenarios/sample/sample.scn), which also checks what the install
# made (files, install.log, shortcuts, the driver lists and the messages
# the driver received) and that the uninstall took all of it back. Each
# window is saved as a PNG screenshot.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/install-deps.sh
echo "Building both architectures (about two minutes on two cores)..."
bash tools/build.sh >build.log 2>&1 || { tail -40 build.log; exit 1; }
rm -f build.log

build=${MAIN_JOB_BUILD:-x86_64}
harness=$root/build/main-job/$build
shots=$root/build/main-job/screenshots
build_dir=$root/build/$build
bash tools/harness.sh start "$harness" "$build" >/dev/null
trap 'bash "$root/tools/harness.sh" stop "$harness" "$build"' EXIT
rm -rf "$shots" && mkdir -p "$shots"

echo "The sample product (sample/), played step by step against the $build build:"
bash tools/harness.sh run "$harness" "$build" -- "$build_dir/runner.exe" --verbose \
    --screenshots "$shots" "$build_dir" "$build" "$root/tests/scenarios/sample/sample.scn" </dev/null |
    tr -d '\r'
status=${PIPESTATUS[0]}  # the runner's verdict, not tr's
for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
echo
echo "Screenshots of every dialog and question of the install and the uninstall: $shots"
ls "$shots"
echo
if [ "$status" != 0 ]; then
    echo "MAIN JOB FAILED: see the steps above"
    exit 1
fi
echo "Main job done: the sample product was installed and uninstalled, and nothing of it is left."
