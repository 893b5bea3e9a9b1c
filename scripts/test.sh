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

STEPS=(deps soak-start function-length linux-build windows-build-start linux-test e2e windows-build
  bench wine-prefix tsan-fuzz-build-start windows-test tsan fuzz soak-verdict)

step_deps() { scripts/install-deps.sh test; }

# No function of the product over 60 lines (pmccabe, scripts/function-length.sh).
step_function-length() { scripts/function-length.sh; }

step_linux-build() {
  cmake --preset linux
  cmake --build --preset linux -j2
}

# Four at a time on two cores: most of these tests wait on another process or a clock, and the
# longest (a thousand simulator reconnects, each with the handshake's pause) takes 100 s alone.
step_linux-test() { ctest --preset linux -j4 -LE 'e2e|bench|soak'; }

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
tsan_build() {
  cmake --preset linux-tsan &&
    cmake --build --preset linux-tsan -j2 --target app_reader_stress_test korvan-sim korvan-efis
}

# libFuzzer (clang 14, AddressSanitizer and UBSan) on the bridge's and the stand-ins' parsers,
# each target for KORVAN_FUZZ_SECONDS (30 by default).
fuzz_build() {
  cmake --preset linux-fuzz -DKORVAN_FUZZ_SECONDS="${KORVAN_FUZZ_SECONDS:-30}" &&
    cmake --build --preset linux-fuzz -j2
}
export -f tsan_build fuzz_build

# Both builds at the lowest priority while the Windows tests run, which mostly wait on Wine;
# tsan and fuzz wait for them (or build, when they were not started).
step_tsan-fuzz-build-start() {
  background_start tsan-fuzz-build nice -n 19 bash -c 'tsan_build && fuzz_build'
}

step_tsan() {
  built_in_background tsan-fuzz-build || tsan_build || return 1
  ctest --preset linux-tsan -R '^ReaderStress\.'
}

# Two targets at a time; a crash fails the step.
step_fuzz() {
  built_in_background tsan-fuzz-build || fuzz_build || return 1
  ctest --preset linux-fuzz -j2 -L fuzz
}

# Work that overlaps the steps after it: in a session of its own (a failed step ends it, and
# everything it started, by its id), its output in build/<name>/<name>.log, its exit status in
# build/<name>/status. background_wait waits for it and fails when it failed.
background_start() {
  local name=$1 dir=build/$1
  shift
  mkdir -p "$dir"
  rm -f "$dir/status"
  setsid bash -c '"${@:3}" >"$1/$2.log" 2>&1; echo $? >"$1/status"' background "$dir" "$name" \
    "$@" &
  echo $! >"$dir/pid"
  echo "$name running in the background (log: $dir/$name.log)"
}

background_wait() {
  local dir=build/$1
  while [ ! -f "$dir/status" ]; do
    if ! kill -0 "$(cat "$dir/pid" 2>/dev/null)" 2>/dev/null && [ ! -f "$dir/status" ]; then
      echo "$1 ended without an exit status (log: $dir/$1.log)"
      return 1
    fi
    sleep 2
  done
  rm -f "$dir/pid"
  return "$(cat "$dir/status")"
}

# Waits for a build this run started in the background, and fails the command when it failed
# (with the end of its log). Returns 1 when none was started (or it was waited for already):
# the caller then builds itself, which is quick when the build is up to date.
built_in_background() {
  [ -f "build/$1/pid" ] || return 1
  if ! background_wait "$1"; then
    tail -n 40 "build/$1/$1.log"
    echo "$1 failed in the background (log: build/$1/$1.log)"
    exit 1
  fi
  echo "built in the background (log: build/$1/$1.log)"
}

# The soak (tests/e2e/soak.sh): the whole system for KORVAN_SOAK_SECONDS (600 by default) on
# the release build, started first so that its ten minutes overlap everything else (its build
# is the three programs, half a minute); soak-verdict, the last step, waits for it.
soak() {
  cmake --preset linux-release -DKORVAN_SOAK_SECONDS="$1" &&
    nice -n 5 cmake --build --preset linux-release -j2 --target korvan-bridge korvan-sim \
      korvan-efis &&
    ctest --preset linux-release -L soak -V
}
export -f soak
step_soak-start() { background_start soak soak "${KORVAN_SOAK_SECONDS:-600}"; }

step_soak-verdict() {
  [ -f build/soak/pid ] || [ -f build/soak/status ] || step_soak-start
  local status=0
  background_wait soak || status=$?
  grep -E 'soak: [0-9]+ s;|FAIL|soak.sh: passed|tests passed|tests failed' build/soak/soak.log ||
    true
  return $status
}

windows_build() { cmake --preset windows && cmake --build --preset windows -j2; }
export -f windows_build

# The Windows build at the lowest priority while the Linux tests run: they leave two thirds of
# the two cores idle, waiting on other processes and clocks, and the build takes what they
# leave. windows-build waits for it (or builds, when it was not started).
step_windows-build-start() { background_start windows-build nice -n 19 bash -c windows_build; }

step_windows-build() { built_in_background windows-build || windows_build; }

# Making a prefix can take minutes on a busy machine; no test's time limit includes it.
step_wine-prefix() { tests/wine/wine-run.sh --prepare build/windows/bin; }

# Then waits for the Wine session to end, so that nothing is left running.
# A failed Windows test runs once more, named in the output: under load Wine has, once in a
# few thousand runs here, ended a test program before its main without a word. A test that
# fails twice fails the step.
step_windows-test() {
  local status=0
  if ! ctest --preset windows -j3; then
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
  # Background work still running when the command ends early goes with it.
  for pid in build/soak/pid build/windows-build/pid build/tsan-fuzz-build/pid; do
    [ -f "$pid" ] || continue
    kill -- -"$(cat "$pid")" 2>/dev/null
    rm -f "$pid"
  done
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
