#!/usr/bin/env bash
# Takes the screenshots in docs/ on a virtual display:
#   gtk    docs/window-gtk.png: the bridge on GTK (Linux) between korvan-sim and korvan-efis.
#   win32  docs/window-win32.png: korvan-bridge.exe under Wine between korvan-sim.exe and
#          korvan-efis.exe with its autopilot engaged, in a Wine desktop whose task bar shows the
#          application's title.
#   scripts/screenshots.sh [gtk] [win32]     (both when none is named)
# Needs the builds they show:
#   cmake --preset linux-release && cmake --build --preset linux-release
#   cmake --preset windows && cmake --build --preset windows
set -euo pipefail
cd "$(dirname "$0")/.."
linux=build/linux-release/bin
windows=build/windows/bin
shots=("$@")
[ ${#shots[@]} -gt 0 ] || shots=(gtk win32)

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

shoot() {  # the area to keep, then the file
  import -window root -crop "$1" +repage "$2"
  echo "saved $2"
}

shot_gtk() {
  "$linux/korvan-sim" >/dev/null &
  pids+=($!)
  "$linux/korvan-efis" >/dev/null &
  pids+=($!)
  sleep 0.5
  "$linux/korvan-bridge" 2>/dev/null &
  local bridge=$!
  pids+=($bridge)
  sleep 3
  shoot 587x430+262+250 docs/window-gtk.png  # the window sits at 262,250, 587 x 430
  kill "$bridge"
}

# A Wine prefix of its own: its programs run in a Wine desktop named "shell" (900 x 720, at the
# screen's top left), which has a task bar. Set for every other Wine run, that desktop would
# change what they see.
shot_win32() {
  export KORVAN_WINEPREFIX=${KORVAN_SHOTS_WINEPREFIX:-/tmp/korvan-shots-wine-$(id -u)}
  local wine=tests/wine/wine-run.sh
  "$wine" --finish  # a session of an earlier run would show on its own display
  "$wine" --prepare
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 900x720 /f >/dev/null
  "$wine" "$windows/korvan-sim.exe" >/dev/null &
  pids+=($!)
  # The EFIS autopilot engaged on the bank servo: commands 4096 and -2048, the sliders at 256
  # (right) and 128 (down).
  "$wine" "$windows/korvan-efis.exe" --bank-mode 3 --bank-pos 5600 --pitch-pos 7700 >/dev/null &
  pids+=($!)
  sleep 4
  "$wine" "$windows/korvan-bridge.exe" &
  pids+=($!)
  sleep 8
  shoot 900x720+0+0 docs/window-win32.png
}

for shot in "${shots[@]}"; do
  case "$shot" in
    gtk) shot_gtk ;;
    win32) shot_win32 ;;
    *) echo "screenshots.sh: no shot \"$shot\" (gtk, win32)" >&2; exit 2 ;;
  esac
done
