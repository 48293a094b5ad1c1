#!/usr/bin/env bash
# Installs what the tests need, builds both architectures and runs every test
# under Wine (private Xvfb display and Wine prefix under build/x86_64).
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
ctest --preset x86_64
