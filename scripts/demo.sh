#!/usr/bin/env bash
# The demo: the EFIS autopilot flies the simulated aircraft through the bridge.
#
#   bash scripts/demo.sh [--seconds N] [--shots DIR]
#
# Builds what is missing (preset linux-release), then starts the three programs:
#   korvan-sim     the stand-in simulator module, a light twin in flight near Amsterdam
#   korvan-efis    the stand-in EFIS unit, its panel in a window (text in this terminal when
#                  there is no display)
#   korvan-bridge  the bridge itself, its window between them (on a virtual display, Xvfb, when
#                  there is none)
# After a few seconds it engages the EFIS autopilot; the bridge then writes the autopilot's servo
# commands into the simulator's controls. It saves screenshots of the bridge window and of the
# panel into DIR (default build/demo-screenshots). It stops N seconds after the build with
# --seconds N (default: without a display 45 s; with one, when you close the bridge window) or on
# Ctrl-C, and leaves no process and no file behind but the screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=""
shots=build/demo-screenshots
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --seconds=*) seconds=${1#*=}; shift ;;
    --shots) shots=${2:?--shots needs a folder}; shift 2 ;;
    --shots=*) shots=${1#*=}; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
case $seconds in ''|*[!0-9]*) [ -z "$seconds" ] || { echo "demo.sh: --seconds needs a whole number" >&2; exit 2; } ;; esac

say() { printf '\033[1mdemo:\033[0m %s\n' "$*"; }
[ -t 1 ] || say() { printf 'demo: %s\n' "$*"; }

say "checking the Debian packages and building what is missing (preset linux-release)..."
scripts/install-deps.sh demo
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j2 --target korvan-sim korvan-efis korvan-bridge | grep -v '^\[' || true
bin=$root/build/linux-release/bin
SECONDS=0  # --seconds counts from here, not from the start of the build

# Everything the programs share or write lives in this directory, removed at the end.
run=$(mktemp -d /tmp/korvan-demo.XXXXXX)
chmod 700 "$run"
export XDG_RUNTIME_DIR=$run
pids=()
stopping=""
stop_all() {
  [ -n "$stopping" ] && return
  stopping=1
  # The bridge first, then the unit, the simulator, the display, each gone before the next is
  # told: the bridge's close hands the controls back to the simulator and still draws on the
  # display, and its log file gets its exit line. Whatever has not ended in 5 s is killed.
  local pid tries
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[$i]}
    kill "$pid" 2>/dev/null || continue
    for ((tries = 0; tries < 50; tries++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$run"
  say "stopped: every program ended, $run removed"
}
trap 'echo; say "Ctrl-C: stopping"; exit 130' INT
trap 'exit 143' TERM
trap stop_all EXIT

# The display: the user's, or a virtual one.
virtual=""
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  say "using your display $DISPLAY"
else
  exec 5>"$run/display"
  Xvfb -displayfd 5 -screen 0 1800x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  exec 5>&-
  for _ in $(seq 100); do [ -s "$run/display" ] && break; sleep 0.1; done
  [ -s "$run/display" ] || { say "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(cat "$run/display")
  virtual=1
  say "no display: the windows run on a virtual one (Xvfb $DISPLAY); the EFIS panel is shown here as text"
  [ -n "$seconds" ] || seconds=45
fi

wait_line() {  # wait_line FILE TEXT SECONDS
  for _ in $(seq $(($3 * 10))); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
alive() { kill -0 "$1" 2>/dev/null; }

say "starting korvan-sim: the stand-in for the simulator's data-exchange module (FSUIPC). It flies"
say "  a light twin at 3000 ft near Amsterdam; its own pilot flies gentle turns and climbs."
"$bin/korvan-sim" --fly >"$run/sim.out" 2>&1 &
sim=$!
pids+=($sim)
wait_line "$run/sim.out" "korvan-sim ready" 20 || { say "korvan-sim did not start:"; cat "$run/sim.out"; exit 1; }

say "starting korvan-efis: the stand-in for the Korvan EFIS on USB. It draws what the bridge"
say "  sends it and runs the autopilot, which it engages 8 s after the bridge connects."
panel=window
[ -n "$virtual" ] && panel=window,text
if [ -n "$virtual" ]; then
  "$bin/korvan-efis" --panel "$panel" --engage-after 8 --heading-bug 180 </dev/null \
    > >(tee "$run/efis.out" | grep -v '^panel:') 2>&1 &
else
  "$bin/korvan-efis" --panel "$panel" --engage-after 8 --heading-bug 180 >"$run/efis.out" 2>&1 &
fi
efis=$!
pids+=($efis)
wait_line "$run/efis.out" "korvan-efis ready" 20 || { say "korvan-efis did not start"; exit 1; }

say "starting korvan-bridge: the product. It reads the flight from korvan-sim every 50 ms, sends"
say "  it to the EFIS, and while the EFIS autopilot is engaged writes its servo commands into"
say "  the simulator's aileron and elevator. Its log follows."
"$bin/korvan-bridge" >/dev/null 2> >(tee "$run/bridge.err" | sed -u 's/^/bridge log: /') &
bridge=$!
pids+=($bridge)
wait_line "$run/bridge.err" "EFIS data write channel OK" 30 || { say "the bridge did not connect"; exit 1; }
say "the bridge is connected to both: the EFIS panel shows the flight (attitude, speeds,"
say "  altitude, heading, GPS, both engines, QNH)."
[ -n "$virtual" ] || say "  Keys in the panel window (or its buttons): a autopilot, [ ] heading bug, + - QNH."

window_of() { xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
bridge_win=$(timeout 20 bash -c "$(declare -f window_of); window_of '^Microsoft FlightSim to Korvan Avionics EFIS bridge\$'") || true
panel_win=$(timeout 20 bash -c "$(declare -f window_of); window_of '^Korvan EFIS panel'") || true
# On the virtual display nothing places the windows: the panel goes beside the bridge.
[ -n "$virtual" ] && [ -n "$panel_win" ] && xdotool windowmove "$panel_win" 880 40 || true

if wait_line "$run/efis.out" "autopilot engaged" 40; then
  say "$(grep -m1 'autopilot engaged' "$run/efis.out")"
  say "  the EFIS now sends servo frames in mode 3; the bridge shows \"AutoPilot is engaged\","
  say "  moves its sliders with the servo commands and writes them to 0x0BB6 and 0x0BB2, with 3"
  say "  at 0x310A: the autopilot turns the aircraft to heading 180 and holds the altitude."
else
  say "the autopilot did not engage"
fi

sleep 6
mkdir -p "$shots"
shoot() {  # shoot WINDOW FILE: raised first, so nothing covers it
  xdotool windowraise "$1" 2>/dev/null || true
  sleep 0.3
  import -window "$1" "$2" 2>/dev/null
}
if [ -n "$bridge_win" ] && shoot "$bridge_win" "$shots/bridge-window.png"; then
  say "screenshot of the bridge window: $shots/bridge-window.png"
fi
if [ -n "$panel_win" ] && shoot "$panel_win" "$shots/efis-panel.png"; then
  say "screenshot of the EFIS panel: $shots/efis-panel.png"
fi

if [ -n "$seconds" ]; then
  say "running until $seconds s after the build (Ctrl-C stops earlier)"
  while [ $SECONDS -lt "$seconds" ] && alive "$bridge" && alive "$efis" && alive "$sim"; do sleep 0.5; done
else
  say "running until you close the bridge window (or press Ctrl-C)"
  while alive "$bridge" && alive "$efis" && alive "$sim"; do sleep 0.5; done
fi
say "the simulator's last word: $(grep '^flight ' "$run/sim.out" | tail -n 1)"
