#!/usr/bin/env bash
# The main job: builds setup.exe and runs it on the bundled sample product
# under Wine on a virtual display.
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh >/dev/null
harness=build/main-job
bash tests/support/harness.sh start "$harness" >/dev/null
trap 'bash tests/support/harness.sh stop "$harness"' EXIT
eval "$(bash tests/support/harness.sh env "$harness")"
dist="$WINEPREFIX/drive_c/dist"
rm -rf "$dist" && mkdir -p "$dist"
cp sample/setup.ini sample/license.txt sample/readme.txt build/x86_64/setup.exe build/x86_64/sampleapp.exe "$dist/"
echo "Running C:\\dist\\setup.exe (64-bit build of the same sources) under Wine..."
set +e
timeout 60 wine "$dist/setup.exe"
echo "setup.exe exit code: $?"
