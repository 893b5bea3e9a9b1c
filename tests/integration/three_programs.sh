#!/usr/bin/env bash
# Helpers for the tests that run the three real programs together: korvan-sim, korvan-efis and
# korvan-bridge (GTK, on the X server the test runs in). Sourced; the caller sets `bin`.
# Every line the programs print is kept with the moment it came (seconds, as EPOCHREALTIME),
# so a test can say when something happened without trusting the machine to be quick.
#
#   start_sim ARGS / start_efis ARGS / start_bridge    each program, its output in $work/NAME.*;
#                                    korvan-efis reads keys from $work/keys when that FIFO exists
#   wait_for FILE TEXT [SECONDS]     until a line of FILE holds TEXT (default bound 60 s)
#   count FILE TEXT                  lines of FILE holding TEXT
#   when FILE TEXT [N]               the moment of the Nth such line (default the first)
#   click_reconnect sim|efis         presses "Reconnect to Flight simulator" / "Reconnect to EFIS "
#   log_line FILE N                  the Nth line of a log file without its stamp ($ for the last)
set -uo pipefail

work=$(mktemp -d)
chmod 700 "$work"
export XDG_RUNTIME_DIR=$work
root=$work/korvan-win32
# The bridge's log file.
export XDG_STATE_HOME=$work/state
log=$XDG_STATE_HOME/korvan-bridge/korvan-bridge.log
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null; kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in sim.out sim.err efis.out efis.err bridge.err; do
    [ -f "$work/$f" ] || continue
    echo "--- $f (last 30 lines)"
    tail -n 30 "$work/$f"
  done
  exit 1
}
step() { echo "[$(date +%T)] $*"; }

# Each line of standard input, after the moment it came.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }

start_sim() {
  "$bin/korvan-sim" "$@" > >(stamp >"$work/sim.out") 2> >(stamp >"$work/sim.err") &
  sim=$!
  pids+=($sim)
  wait_for sim.out "korvan-sim ready"
}

start_efis() {
  local keys=/dev/null
  [ -p "$work/keys" ] && keys=$work/keys
  "$bin/korvan-efis" "$@" <"$keys" > >(stamp >"$work/efis.out") 2> >(stamp >"$work/efis.err") &
  efis=$!
  pids+=($efis)
  wait_for efis.out "korvan-efis ready"
}

# The bridge's log is echoed on its standard error. Waits for its window.
start_bridge() {
  "$bin/korvan-bridge" > >(stamp >"$work/bridge.out") 2> >(stamp >"$work/bridge.err") &
  bridge=$!
  pids+=($bridge)
  win=$(timeout 60 xdotool search --sync --onlyvisible \
    --name '^Microsoft FlightSim to Korvan Avionics EFIS bridge$' | head -n 1)
  [ -n "$win" ] || fail "no bridge window"
}

wait_for() {
  local i
  for i in $(seq $(( ${3:-60} * 20 ))); do
    grep -qF -- "$2" "$work/$1" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "no \"$2\" in $1 within ${3:-60} s"
}

count() { grep -cF -- "$2" "$work/$1" 2>/dev/null || true; }

# Waits until FILE holds N lines with TEXT (a line seen before a reconnect counts as one).
wait_for_count() {
  local i
  for i in $(seq $(( ${4:-30} * 20 ))); do
    [ "$(count "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.05
  done
  fail "${3} \"$2\" lines in $1 not seen within ${4:-30} s (saw $(count "$1" "$2"))"
}

when() { grep -F -- "$2" "$work/$1" | sed -n "${3:-1}p" | cut -d' ' -f1; }

# Seconds from $1 to $2 (moments), to one decimal.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
# True when $1 <= $2 <= $3 (decimal seconds).
between() { awk -v lo="$1" -v v="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# The buttons' centres in the window's client area (the window is designed at 96 dpi).
click_reconnect() {
  local y=196
  [ "$1" = efis ] && y=228
  xdotool mousemove --window "$win" 100 $y click 1
}

log_line() { sed -n "${2}p" "$1" | cut -c 25- | tr -d '\r'; }

# Threads and open files of a process.
threads() { ls "/proc/$1/task" | wc -l; }
open_files() { ls "/proc/$1/fd" | wc -l; }
