#!/usr/bin/env bash
# Reads the GTK window of toolkit-gtk-demo back from the X server and drives it like a user:
# toolkit_gtk_check.sh <toolkit-gtk-demo> <x11-delete-window>. Run inside xvfb-run.
set -uo pipefail
demo=$1
closer=$2
caption='Microsoft FlightSim to Korvan Avionics EFIS bridge'
work=$(mktemp -d)
"$demo" >"$work/out" 2>"$work/err" &
pid=$!
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  echo "--- demo stdout"; cat "$work/out"
  echo "--- demo stderr"; cat "$work/err"
  exit 1
}

# wait_for <file> <fixed text>: up to 60 s (a busy machine is slow, never this slow).
wait_for() {
  for _ in $(seq 600); do
    grep -qF -- "$2" "$work/$1" && return 0
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  grep -qF -- "$2" "$work/$1" || fail "no \"$2\" in $1"
}

win=$(timeout 60 xdotool search --sync --onlyvisible --name "^${caption}\$" | head -n 1)
[ -n "$win" ] || fail "no window titled \"$caption\""
[ "$(xdotool getwindowname "$win")" = "$caption" ] || fail "title is \"$(xdotool getwindowname "$win")\""
xprop -id "$win" WM_CLASS | grep -q '"TForm1"' || fail "WM_CLASS: $(xprop -id "$win" WM_CLASS)"

wait_for out "geometry Label6"
info=$(xwininfo -id "$win")
field() { echo "$info" | sed -n "s/^ *$1: *//p"; }
actual="$(field 'Absolute upper-left X') $(field 'Absolute upper-left Y') $(field Width) $(field Height)"
[ "$actual" = "262 250 587 430" ] || fail "window at x y w h = $actual, want 262 250 587 430"

for expected in "Memo1 8 8 553 161" "Button1 16 184 169 25" "Button2 16 216 169 25" \
                "TrackBar1 328 240 150 41" "TrackBar2 496 184 33 150" "Label6 472 336 89 41"; do
  grep -qx "geometry $expected" "$work/out" || fail "want geometry $expected"
done
grep -qE '^geometry Label1 24 360 [0-9]+ [0-9]+$' "$work/out" || fail "Label1 not at 24,360"

# No window manager here: the first showing counts as the activation.
wait_for err "activated"

# The disabled button ignores the click; the enabled one reaches OnClick and the log.
xdotool mousemove --window "$win" 100 228 click 1
xdotool mousemove --window "$win" 100 196 click 1
wait_for err "Button1 clicked"
grep -q "Button2 clicked" "$work/err" && fail "a disabled button was clicked"

# An idle handler that wants to run every 50 ms is called about 20 times a second, not
# thousands: the loop sleeps on the wake source. A busy machine only makes it fewer.
wait_for out "idle calls in 1000 ms:"
calls=$(sed -n 's/^idle calls in 1000 ms: //p' "$work/out")
{ [ "$calls" -ge 1 ] && [ "$calls" -le 100 ]; } || fail "idle calls in 1000 ms: $calls"

# The close button: OnCloseQuery, then the loop ends and the program exits normally.
"$closer" "$win" || fail "cannot send WM_DELETE_WINDOW"
for _ in $(seq 600); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "still running after the close"
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "exit status $rc"
grep -qx "close query" "$work/out" || fail "no OnCloseQuery"
grep -qx "run ended, log lines: 2" "$work/out" || fail "log lines at the end"
[ "$(grep -c '^activated$' "$work/err")" -eq 1 ] || fail "OnActivate more than once"
[ "$(grep -c '^message 45056$' "$work/out")" -eq 1 ] || fail "activation delivered more than once"
echo "GTK window read back: title, class, 262,250 587x430, controls, clicks, idle wake, close"
