#!/usr/bin/env bash
# Builds the Linux programs and runs the demo: the stand-in simulator (korvan-sim), the stand-in
# EFIS unit (korvan-efis) and the bridge window between them. Close the bridge window (or press
# Ctrl-C) to end all three.
#
# Without a display (no DISPLAY set) the bridge runs on a virtual one (Xvfb) for
# DEMO_SECONDS (default 20) and a screenshot is saved to build/demo-window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j2
bin=build/linux-release/bin

# Everything the three programs share lives under this runtime directory, gone afterwards.
export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d /tmp/korvan-demo.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT INT TERM

"$bin/korvan-sim" &
pids+=($!)
if [ -x "$bin/korvan-efis" ]; then
  "$bin/korvan-efis" &
  pids+=($!)
fi
sleep 0.5

if [ -n "${DISPLAY:-}" ]; then
  "$bin/korvan-bridge"
else
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
  pids+=($!)
  sleep 1
  DISPLAY=$display "$bin/korvan-bridge" &
  bridge=$!
  pids+=($bridge)
  sleep "${DEMO_SECONDS:-20}"
  DISPLAY=$display import -window root build/demo-window.png && echo "Screenshot: build/demo-window.png"
  kill "$bridge" 2>/dev/null || true
fi
