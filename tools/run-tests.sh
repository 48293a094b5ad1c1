#!/usr/bin/env bash
# Installs what the tests need, builds both architectures and runs every test
# under Wine (private Xvfb display and Wine prefix under build/x86_64).
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
echo "Size and imports of the programs (the shipped one is build/i686/setup.exe):"
bash tests/check-product.sh build/i686/setup.exe build/x86_64/setup.exe
ctest --preset x86_64
