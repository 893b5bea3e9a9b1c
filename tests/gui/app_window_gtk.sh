#!/usr/bin/env bash
# The real korvan-bridge on GTK between korvan-sim and korvan-efis, read back from the X server:
# app_window_gtk.sh <bin dir> <x11-delete-window> [screenshot.png]. Run inside xvfb-run.
set -uo pipefail
bin=$1
closer=$2
shot=${3:-}
caption='Microsoft FlightSim to Korvan Avionics EFIS bridge'
work=$(mktemp -d)
chmod 700 "$work"
export XDG_RUNTIME_DIR=$work
# The log file's folder; made by the bridge.
export XDG_STATE_HOME=$work/state
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  for f in sim efis bridge; do echo "--- $f"; cat "$work/$f.out" "$work/$f.err" 2>/dev/null; done
  exit 1
}

# wait_for <file> <fixed text>: up to 60 s (a busy machine is slow, never this slow).
wait_for() {
  for _ in $(seq 600); do
    grep -qF -- "$2" "$work/$1" && return 0
    sleep 0.1
  done
  fail "no \"$2\" in $1"
}

"$bin/korvan-sim" --verbose >"$work/sim.out" 2>"$work/sim.err" &
sim=$!; pids+=($sim)
"$bin/korvan-efis" --verbose >"$work/efis.out" 2>"$work/efis.err" &
efis=$!; pids+=($efis)
wait_for sim.out "korvan-sim ready"
wait_for efis.out "korvan-efis ready"

started=$(date '+%F %T')
"$bin/korvan-bridge" >"$work/bridge.out" 2>"$work/bridge.err" &
bridge=$!; pids+=($bridge)

win=$(timeout 60 xdotool search --sync --onlyvisible --name "^${caption}\$" | head -n 1)
[ -n "$win" ] || fail "no window titled \"$caption\""
info=$(xwininfo -id "$win")
field() { echo "$info" | sed -n "s/^ *$1: *//p"; }
actual="$(field 'Absolute upper-left X') $(field 'Absolute upper-left Y') $(field Width) $(field Height)"
[ "$actual" = "262 250 587 430" ] || fail "window at x y w h = $actual, want 262 250 587 430"

# The log, as the bridge echoes it on standard error, in this order.
wait_for bridge.err "EFIS data write channel OK"
expected=$'Connected to FSX\nEFIS detected on USB, driver initialized.\nEFIS data read channel OK\nEFIS data write channel OK'
[ "$(grep -v '^==' "$work/bridge.err" | head -n 4)" = "$expected" ] || fail "log lines"

# The cycle runs: attitude frames reach the EFIS, exchanges reach the module.
wait_for efis.out "frame type 11,"
wait_for efis.out "frame type 3,"
# korvan-efis's panel shows korvan-sim's flight: 914 m, 100 kt, QNH 16211/16 hPa.
wait_for efis.out "panel: ALT 2998 ft  IAS 115 mph"
wait_for efis.out "QNH 1013.1 hPa"

# Over 5 s the loop sleeps between ticks: far from a whole core (the ASan build is slower).
ticks() { awk '{print $14 + $15}' "/proc/$bridge/stat"; }
before=$(ticks); exchanges_before=$(grep -c '^exchange' "$work/sim.out")
sleep 5
after=$(ticks); exchanges_after=$(grep -c '^exchange' "$work/sim.out")
hz=$(getconf CLK_TCK)
percent=$(( (after - before) * 100 / (5 * hz) ))
echo "korvan-bridge CPU over 5 s: ${percent}% of one core; exchanges: $((exchanges_after - exchanges_before))"
[ "$percent" -lt 25 ] || fail "the bridge uses ${percent}% of a core"
# 5 s are 100 ticks, 70 of them exchanging: never more. A busy machine stretches the schedule,
# so the only lower bound is that the cycle runs (its rate is korvan-bench's to measure).
n=$((exchanges_after - exchanges_before))
{ [ $n -ge 1 ] && [ $n -le 75 ]; } || fail "$n exchanges in 5 s"

if [ -n "$shot" ]; then
  import -window "$win" "$shot" || fail "no screenshot"
fi

# The close: FormCloseQuery closes the EFIS handles and the program ends normally.
"$closer" "$win" || fail "cannot send WM_DELETE_WINDOW"
for _ in $(seq 600); do kill -0 $bridge 2>/dev/null || break; sleep 0.1; done
kill -0 $bridge 2>/dev/null && fail "still running after the close"
wait $bridge
rc=$?
[ $rc -eq 0 ] || fail "exit status $rc"
wait_for efis.out "close PIPE01"
ended=$(date '+%F %T')

# The log file: the window's lines between a start and an exit line of its own, each after the
# local time to the millisecond, one line end each; folders 0700, the file 0600.
log=$XDG_STATE_HOME/korvan-bridge/korvan-bridge.log
modes="$(stat -c %a "$XDG_STATE_HOME" "$XDG_STATE_HOME/korvan-bridge" "$log" | tr '\n' ' ')"
[ "$modes" = "700 700 600 " ] || fail "log folder, its folder and file have modes $modes"
[ "$(ls "$XDG_STATE_HOME/korvan-bridge")" = korvan-bridge.log ] || fail "not one log file"
expected_log="korvan-bridge 1.1 started on $(uname -sr)
$expected
korvan-bridge 1.1 exits"
[ "$(cut -c 25- "$log")" = "$expected_log" ] || { cat "$log"; fail "the log file's lines"; }
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} '
[ "$(grep -cvE "$stamp" "$log")" = 0 ] || { cat "$log"; fail "a line of the log file without its stamp"; }
awk -v from="$started" -v to="$ended" '{ t = substr($0, 1, 19); if (t < from || t > to || t < last) bad = 1; last = t }
  END { exit bad }' "$log" || { cat "$log"; fail "log stamps outside $started .. $ended"; }
[ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" = '\n' ] && ! grep -q $'\r' "$log" ||
  fail "the log file's line ends"
# The start and exit lines are the file's alone.
grep -q 'korvan-bridge 1.1' "$work/bridge.err" && fail "the window's log has the file's own lines"
# Every frame the unit received passed its catalogue check.
grep -q '^bad frame' "$work/efis.out" && fail "korvan-efis saw malformed frames"
[ "$(grep -c '^frame type' "$work/efis.out")" -gt 0 ] || fail "korvan-efis saw no frames"
echo "korvan-bridge on GTK: title, 262,250 587x430, log order, frames, exchanges, CPU, close, log file"
