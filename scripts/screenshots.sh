#!/usr/bin/env bash
# Takes the screenshots in docs/: the bridge window on GTK (Linux) and on Win32 (under Wine),
# each with korvan-sim running, on a virtual display. Needs both builds:
#   cmake --preset linux-release && cmake --build --preset linux-release
#   cmake --preset windows && cmake --build --preset windows
set -euo pipefail
cd "$(dirname "$0")/.."
linux=build/linux-release/bin
windows=build/windows/bin

export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d /tmp/korvan-shots.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

display=:$((150 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
pids+=($!)
sleep 1
export DISPLAY=$display

shoot() {  # the window sits at 262,250, 587 x 430
  import -window root -crop 587x430+262+250 +repage "$1"
  echo "saved $1"
}

"$linux/korvan-sim" >/dev/null &
pids+=($!)
"$linux/korvan-efis" >/dev/null &
pids+=($!)
sleep 0.5
"$linux/korvan-bridge" 2>/dev/null &
bridge=$!
pids+=($bridge)
sleep 3
shoot docs/window-gtk.png
kill "$bridge"

tests/wine/wine-run.sh "$windows/korvan-sim.exe" >/dev/null &
pids+=($!)
sleep 3
tests/wine/wine-run.sh "$windows/korvan-bridge.exe" &
pids+=($!)
sleep 6
shoot docs/window-win32.png
