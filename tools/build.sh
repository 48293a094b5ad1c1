#!/usr/bin/env bash
# Builds both architectures: the shipped 32-bit setup.exe (build/i686) and the
# 64-bit one with the test programs (build/x86_64).
set -eu
cd "$(dirname "$0")/.."
for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
