#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build (with AddressSanitizer and UBSan), the
# reader's ThreadSanitizer run, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

cmake --preset linux
cmake --build --preset linux -j2
ctest --preset linux -j2

# ThreadSanitizer: the EFIS reader thread and the bridge cycle together for 30 s. Only what
# that test needs is built in this preset.
cmake --preset linux-tsan
cmake --build --preset linux-tsan -j2 --target app_reader_stress_test korvan-sim korvan-efis
ctest --preset linux-tsan -R '^ReaderStress\.'

cmake --preset windows
cmake --build --preset windows -j2
ctest --preset windows -j2
