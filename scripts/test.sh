#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build (with AddressSanitizer and UBSan) and
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

cmake --preset linux
cmake --build --preset linux -j2
ctest --preset linux -j2

cmake --preset windows
cmake --build --preset windows -j2
ctest --preset windows -j2
