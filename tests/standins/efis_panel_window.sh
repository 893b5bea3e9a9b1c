#!/usr/bin/env bash
# korvan-efis's panel window (GTK, on the X server this runs in), drawn from a recording alone,
# read back from the X server: efis_panel_window.sh <korvan-efis> <x11-delete-window> <record>.
set -uo pipefail
efis=$1
closer=$2
record=$3
work=$(mktemp -d)
"$efis" --replay "$record" --panel window >"$work/out" 2>"$work/err" &
pid=$!
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  cat "$work/out" "$work/err"
  exit 1
}

win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Korvan EFIS panel' | head -n 1)
[ -n "$win" ] || fail "no panel window"
width=$(xwininfo -id "$win" | sed -n 's/^ *Width: *//p')
[ "$width" = 900 ] || fail "window width $width, want 900"
sleep 1
import -window "$win" "$work/panel.png" || fail "no screenshot"
# The attitude indicator: sky above the horizon, ground below. In a 12.4 degree left bank the
# ground rises on the left, as it does through the windscreen: the horizon runs from high on the
# left to low on the right.
pixel() { convert "$work/panel.png" -format "%[hex:p{$1,$2}]" info: | cut -c1-6; }
[ "$(pixel 170 60)" = 3C7FD0 ] || fail "no sky at the top left of the attitude: $(pixel 170 60)"
[ "$(pixel 450 330)" = 8A5A2E ] || fail "no ground at the bottom right: $(pixel 450 330)"
# The horizon's height at the two edges.
edge() {  # the first row from the top at column $1 that is ground
  for y in $(seq 60 4 340); do [ "$(pixel "$1" "$y")" = 8A5A2E ] && { echo "$y"; return; }; done
  echo 999
}
left=$(edge 175); right=$(edge 445)
[ "$left" -lt "$right" ] || fail "horizon at x=175 y=$left, x=445 y=$right: not a left bank"
grep -q "replayed 31 frames" "$work/out" || fail "replay"
"$closer" "$win" || fail "cannot send WM_DELETE_WINDOW"
for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "still running after the close"
wait $pid || fail "exit status $?"
echo "korvan-efis panel window: drawn from the recording, sky and ground banked left, closed"
