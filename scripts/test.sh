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

STEPS=(deps function-length linux-build soak-start linux-test e2e bench tsan fuzz windows-build
  wine-prefix windows-test soak-verdict)

step_deps() { scripts/install-deps.sh test; }

# No function of the product over 60 lines (pmccabe, scripts/function-length.sh).
step_function-length() { scripts/function-length.sh; }

step_linux-build() {
  cmake --preset linux
  cmake --build --preset linux -j2
}

step_linux-test() { ctest --preset linux -j2 -LE 'e2e|bench|soak'; }

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

# libFuzzer (clang 14, AddressSanitizer and UBSan) on the bridge's and the stand-ins' parsers,
# two targets at a time, each for KORVAN_FUZZ_SECONDS (30 by default); a crash fails the step.
step_fuzz() {
  cmake --preset linux-fuzz -DKORVAN_FUZZ_SECONDS="${KORVAN_FUZZ_SECONDS:-30}"
  cmake --build --preset linux-fuzz -j2
  ctest --preset linux-fuzz -j2 -L fuzz
}

# The soak (tests/e2e/soak.sh): the whole system for KORVAN_SOAK_SECONDS (600 by default) on
# the release build, started in the background right after the Linux build so that it overlaps
# the later steps; soak-verdict, the last step, waits for it and fails when it failed.
soak_dir=build/soak
step_soak-start() {
  mkdir -p "$soak_dir"
  rm -f "$soak_dir/status"
  # A session of its own: a failed step ends it, and everything it started, by its id.
  setsid bash -c '
    {
      cmake --preset linux-release -DKORVAN_SOAK_SECONDS="$1" &&
        nice -n 5 cmake --build --preset linux-release -j1 --target korvan-bridge korvan-sim \
          korvan-efis &&
        ctest --preset linux-release -L soak -V
    } >"$2/soak.log" 2>&1
    echo $? >"$2/status"' soak "${KORVAN_SOAK_SECONDS:-600}" "$soak_dir" &
  echo $! >"$soak_dir/pid"
  echo "soak running in the background (log: $soak_dir/soak.log)"
}

step_soak-verdict() {
  if [ ! -f "$soak_dir/pid" ] && [ ! -f "$soak_dir/status" ]; then step_soak-start; fi
  while [ ! -f "$soak_dir/status" ]; do
    if ! kill -0 "$(cat "$soak_dir/pid")" 2>/dev/null && [ ! -f "$soak_dir/status" ]; then
      echo "the soak ended without a verdict"
      return 1
    fi
    sleep 5
  done
  rm -f "$soak_dir/pid"
  grep -E 'soak: [0-9]+ s;|FAIL|soak.sh: passed|tests passed|tests failed' "$soak_dir/soak.log" || true
  return "$(cat "$soak_dir/status")"
}

step_windows-build() {
  cmake --preset windows
  cmake --build --preset windows -j2
}

# Making a prefix can take minutes on a busy machine; no test's time limit includes it.
step_wine-prefix() { tests/wine/wine-run.sh --prepare build/windows/bin; }

# Then waits for the Wine session to end, so that nothing is left running.
# A failed Windows test runs once more, named in the output: under load Wine has, once in a
# few thousand runs here, ended a test program before its main without a word. A test that
# fails twice fails the step.
step_windows-test() {
  local status=0
  if ! ctest --preset windows -j2; then
    echo "windows-test: the failed tests once more"
    ctest --preset windows --rerun-failed --output-on-failure || status=1
  fi
  tests/wine/wine-run.sh --finish
  return $status
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
  # A soak still running when the command ends early goes with it.
  if [ -f "$soak_dir/pid" ]; then
    kill -- -"$(cat "$soak_dir/pid")" 2>/dev/null
    rm -f "$soak_dir/pid"
  fi
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
