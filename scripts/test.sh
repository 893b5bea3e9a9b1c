#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build (with AddressSanitizer and UBSan), the
# reader's ThreadSanitizer run, and the Windows build under Wine. Needs nothing from an earlier
# run: no build/, no Wine prefix (KORVAN_WINEPREFIX, made by the wine-prefix step), no display.
#
#   scripts/test.sh              every step, in order
#   scripts/test.sh STEP...      only those steps (scripts/test.sh --list names them)
#
# Each step is a function step_<name> below, listed in STEPS; a new suite adds both. Every
# step is timed, and the times are printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

STEPS=(deps linux-build linux-test e2e bench tsan windows-build wine-prefix windows-test)

step_deps() { scripts/install-deps.sh test; }

step_linux-build() {
  cmake --preset linux
  cmake --build --preset linux -j2
}

step_linux-test() { ctest --preset linux -j2 -LE 'e2e|bench'; }

# The three programs together, one test at a time: each runs a whole flight.
step_e2e() { ctest --preset linux -L e2e; }

# A short korvan-bench, one measurement at a time, its figures printed (no thresholds: they are
# the sanitizer build's, and the machine is shared). `korvan-bench` of linux-release gives the
# figures themselves (README, Benchmarks).
step_bench() {
  ctest --preset linux -L bench --verbose | grep -E '^[0-9]+: (\{|korvan-bench)|Test +#|tests (passed|failed)'
}

# ThreadSanitizer: the EFIS reader thread and the bridge cycle together for 30 s. Only what
# that test needs is built in this preset.
step_tsan() {
  cmake --preset linux-tsan
  cmake --build --preset linux-tsan -j2 --target app_reader_stress_test korvan-sim korvan-efis
  ctest --preset linux-tsan -R '^ReaderStress\.'
}

step_windows-build() {
  cmake --preset windows
  cmake --build --preset windows -j2
}

# Making a prefix can take minutes on a busy machine; no test's time limit includes it.
step_wine-prefix() { tests/wine/wine-run.sh --prepare build/windows/bin; }

# Then waits for the Wine session to end, so that nothing is left running.
step_windows-test() {
  ctest --preset windows -j2
  tests/wine/wine-run.sh --finish
}

if [ "${1:-}" = --list ]; then
  printf '%s\n' "${STEPS[@]}"
  exit 0
fi
run=("$@")
[ ${#run[@]} -gt 0 ] || run=("${STEPS[@]}")
for name in "${run[@]}"; do
  if ! declare -F "step_$name" >/dev/null; then
    echo "test.sh: no step \"$name\" (steps: ${STEPS[*]})" >&2
    exit 2
  fi
done

times=()
current=""
report() {
  local status=$?
  [ -n "$current" ] && times+=("$(printf '%-14s %4d s  FAILED' "$current" $((SECONDS - begun)))")
  [ ${#times[@]} -gt 0 ] && printf '==> %s\n' "${times[@]}"
  return $status
}
trap report EXIT

started=$SECONDS
for name in "${run[@]}"; do
  echo "==> $name"
  current=$name
  begun=$SECONDS
  "step_$name"
  current=""
  times+=("$(printf '%-14s %4d s' "$name" $((SECONDS - begun)))")
done
times+=("$(printf '%-14s %4d s' total $((SECONDS - started)))")
