#!/usr/bin/env bash
# Takes the screenshots in docs/ on a virtual display:
#   gtk    docs/window-gtk.png: the bridge on GTK (Linux) between korvan-sim and korvan-efis.
#   win32  docs/window-win32.png: korvan-bridge.exe under Wine between korvan-sim.exe and
#          korvan-efis.exe with its autopilot engaged, in a Wine desktop whose task bar shows the
#          application's title.
#   win32-144dpi  docs/window-win32-144dpi.png: the same at 144 DPI (150 %), where the window
#          scales itself to 881 x 645 at 393, 375.
#   scripts/screenshots.sh [gtk] [win32] [win32-144dpi]     (all when none is named)
# Needs the builds they show:
#   cmake --preset linux-release && cmake --build --preset linux-release
#   cmake --preset windows && cmake --build --preset windows
set -euo pipefail
cd "$(dirname "$0")/.."
linux=build/linux-release/bin
windows=build/windows/bin
shots=("$@")
[ ${#shots[@]} -gt 0 ] || shots=(gtk win32 win32-144dpi)

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
# Room for the Wine desktop of the 144-DPI shot.
Xvfb "$display" -screen 0 1400x1100x24 -nolisten tcp &
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

# Wine's own fonts (Debian's fonts-wine, a package the test command does not install: the tests
# measure whatever fonts there are), in the shots' prefixes alone, so the windows look as on
# Windows: Marlett draws the caption buttons, MS Sans Serif the window's text, and its TrueType
# face stands in for Microsoft Sans Serif (the twin the window takes above 96 DPI).
fonts_dir=""
add_wine_fonts() {  # the prefix
  if [ -z "$fonts_dir" ]; then
    fonts_dir=/usr/share/wine/fonts
    if [ ! -f "$fonts_dir/marlett.ttf" ]; then
      (cd "$XDG_RUNTIME_DIR" && apt-get download fonts-wine >/dev/null 2>&1) &&
        dpkg-deb -x "$XDG_RUNTIME_DIR"/fonts-wine_*.deb "$XDG_RUNTIME_DIR/fonts-wine" ||
        echo "screenshots.sh: no fonts-wine to be had; Wine draws with the fonts it finds" >&2
      fonts_dir=$XDG_RUNTIME_DIR/fonts-wine/usr/share/wine/fonts
    fi
  fi
  [ -d "$fonts_dir" ] || return 0
  cp "$fonts_dir"/* "$1/drive_c/windows/Fonts/"
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Microsoft Sans Serif' /d 'MS Sans Serif' /f >/dev/null
}

# A Wine prefix of its own: its programs run in a Wine desktop named "shell" (at the screen's
# top left), which has a task bar. Set for every other Wine run, that desktop would change what
# they see. At another DPI than 96 the prefix is another again (tests/wine/wine-run.sh).
# Arguments: the DPI, the desktop's size, the file.
shot_wine() {
  export KORVAN_WINEPREFIX=${KORVAN_SHOTS_WINEPREFIX:-/tmp/korvan-shots-wine-$(id -u)}
  export KORVAN_WINE_DPI=$1
  local prefix=$KORVAN_WINEPREFIX first=${#pids[@]}
  [ "$1" = 96 ] || prefix=$prefix-dpi$1
  wine=tests/wine/wine-run.sh
  "$wine" --finish  # a session of an earlier shot would show on the display
  "$wine" --prepare
  add_wine_fonts "$prefix"
  # The size first: a program started once the desktop is named may already make it.
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d "$2" /f >/dev/null
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null
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
  shoot "$2+0+0" "$3"
  for pid in "${pids[@]:$first}"; do kill "$pid" 2>/dev/null || true; done
  "$wine" --finish
}

for shot in "${shots[@]}"; do
  case "$shot" in
    gtk) shot_gtk ;;
    win32) shot_wine 96 900x720 docs/window-win32.png ;;
    # The window's right and bottom edges at 1274 and 1020, the task bar below.
    win32-144dpi) shot_wine 144 1320x1090 docs/window-win32-144dpi.png ;;
    *) echo "screenshots.sh: no shot \"$shot\" (gtk, win32, win32-144dpi)" >&2; exit 2 ;;
  esac
done
