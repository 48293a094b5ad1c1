#!/usr/bin/env bash
# Installs what the tests need, builds both architectures and runs every test
# under Wine: each scenario against the 64-bit build (wine64) and the shipped
# 32-bit build (the private 32-bit Wine, set up on first use), and the tables
# of pure functions. Ends with the share of test lines in the project.
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
echo "Setting up the 32-bit Wine for the shipped build (about 30 s and 200 MB of downloads the first time; seconds once cached in build/wine32)..."
bash tools/wine32/setup.sh build/wine32
bash tools/build.sh
echo "Size and imports of the programs (the shipped one is build/i686/setup.exe):"
bash tests/check-product.sh build/i686/setup.exe build/x86_64/setup.exe
status=0
ctest --preset x86_64 || status=$?
count() { git ls-files -z -- "$@" | xargs -0 -r grep -I -h -v -c '^\s*$' | awk '{ n += $1 } END { print n + 0 }'; }
code=$(count src res tools cmake sample CMakeLists.txt CMakePresets.json)
tests=$(count tests)
echo "Test lines: $tests of $((code + tests)) non-blank lines ($((100 * tests / (code + tests)))% of the project; code $code)"
exit $status
