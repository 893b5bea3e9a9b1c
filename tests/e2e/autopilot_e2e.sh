#!/usr/bin/env bash
# The whole loop with the three real programs: korvan-sim flying, korvan-bridge (GTK, on the
# X server this runs in) and korvan-efis with its autopilot, keys fed to it through a FIFO.
#   autopilot_e2e.sh <bin dir>        Run inside xvfb-run.
# Shows: from a 25 degree bank, the EFIS autopilot engaged through the bridge levels the wings
# within 15 s and keeps them level; the bridge's sliders (as it reports them to the EFIS in its
# servo status frame, from the same values in the same tick) follow the servo commands;
# disengaging hands the controls back (0 at 0x310A, the simulator's own inputs on the sliders);
# QNH set on the EFIS reaches 0x0330 and stays on the EFIS; QNH changed in the simulator
# reaches the EFIS.
set -uo pipefail
bin=$1
work=$(mktemp -d)
chmod 700 "$work"
export XDG_RUNTIME_DIR=$work
export XDG_STATE_HOME=$work/state  # the bridge's log file
pids=()
cleanup() {
  exec 3>&- 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in sim.out efis.out bridge.err; do echo "--- $f (last 40 lines)"; tail -n 40 "$work/$f"; done
  exit 1
}
step() { echo "[$(date +%T)] $*"; }

# wait_grep <-F|-E> <file> <pattern> [seconds]: a line matching it (default bound 60 s).
wait_grep() {
  for _ in $(seq $(( ${4:-60} * 10 ))); do
    grep -q "$1" -- "$3" "$work/$2" && return 0
    sleep 0.1
  done
  fail "no line matching \"$3\" in $2 within ${4:-60} s"
}
wait_for() { wait_grep -F "$@"; }
wait_for_re() { wait_grep -E "$@"; }

# The simulator's latest flight line, as key=value words; field <name> reads one. Its bank has one
# decimal: 1.9 or less there is less than 2 degrees.
last_flight() { grep '^flight ' "$work/sim.out" | tail -n 1; }
field() { echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
abs_le() { awk -v v="$1" -v m="$2" 'BEGIN { exit !((v < 0 ? -v : v) <= m) }'; }

mkfifo "$work/keys"
"$bin/korvan-sim" --fly --pilot hold --bank 25 --qnh-at 20:1020.0 --record "$work/sim.rec" \
  >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
"$bin/korvan-efis" --panel none --record "$work/efis.rec" --record-sent <"$work/keys" >"$work/efis.out" \
  2>"$work/efis.err" &
pids+=($!)
exec 3>"$work/keys"   # held open: the unit reads keys from it as they come
key() { printf '%s' "$1" >&3; }
wait_for sim.out "korvan-sim ready"
wait_for efis.out "korvan-efis ready"
"$bin/korvan-bridge" >"$work/bridge.out" 2>"$work/bridge.err" &
pids+=($!)
wait_for bridge.err "EFIS data write channel OK"
step "the three programs run; the simulator holds a 25 degree right bank"

# The EFIS shows the bank before anything is engaged.
wait_for_re efis.out "BANK 2[45][.]"
wait_for efis.rec " frame 15 20 " 30

# ---- Engage: the wings come level within 15 s and stay level ----
key a
wait_for efis.out "autopilot engaged: AP LVL"
engaged_at=$(date +%s.%N)
step "autopilot engaged on the EFIS"
level_at=""
for _ in $(seq 600); do
  line=$(last_flight)
  if [ "$(field "$line" disconnect)" = 3 ] && abs_le "$(field "$line" bank)" 1.9; then
    level_at=$(date +%s.%N)
    break
  fi
  sleep 0.1
done
[ -n "$level_at" ] || fail "the wings never came within 2 degrees of level"
took=$(awk -v a="$engaged_at" -v b="$level_at" 'BEGIN { printf "%.1f", b - a }')
step "wings within 2 degrees of level $took s after the engagement: $(last_flight)"
awk -v t="$took" 'BEGIN { exit !(t <= 15) }' || fail "levelling took $took s, more than 15"
level_line=$(grep -c '^flight ' "$work/sim.out")
sleep 12   # and they stay there, every second of it
grep '^flight ' "$work/sim.out" | tail -n +"$level_line" >"$work/level.txt"
[ "$(wc -l <"$work/level.txt")" -ge 8 ] || fail "too few flight lines while level"
while read -r line; do
  abs_le "$(field "$line" bank)" 1.9 || fail "the bank left 2 degrees: $line"
  [ "$(field "$line" disconnect)" = 3 ] || fail "the controls went back while engaged: $line"
done <"$work/level.txt"
step "level for $(wc -l <"$work/level.txt") more seconds, controls with the bridge"

# ---- The sliders follow the servo commands ----
# In the unit's record: "MS sent 14 12 HEX" for each servo frame it sent and "MS frame 15 20 HEX"
# for each status frame. A status frame while engaged must carry, for each servo, -(2 x C) / 32
# (truncated) of a command C = 16384 - (P - 1400) x 2048 / 700 sent in the 1.5 s before it.
disengage_ms=$(awk '{ print $1 }' "$work/efis.rec" | tail -n 1)
cat >"$work/follow.awk" <<'AWK'
function byte(h, i) { return 16 * (index("0123456789abcdef", substr(h, 2 * i + 1, 1)) - 1) + \
  index("0123456789abcdef", substr(h, 2 * i + 2, 1)) - 1 }
function s16(h, i,  v) { v = byte(h, i) + 256 * byte(h, i + 1); return v >= 32768 ? v - 65536 : v }
function cmd(p,  q, c) { q = int((p - 1400) * 2048 / 700); c = (16384 - q) % 65536;
  if (c >= 32768) c -= 65536; if (c < -32768) c += 65536; return c }
function shown(c,  s) { s = (2 * c) % 65536; if (s >= 32768) s -= 65536; if (s < -32768) s += 65536;
  return -int(s / 32) }
$2 == "sent" && $3 == 14 && byte($5, 4) == 3 {
  n++; at[n] = $1; b[n] = shown(cmd(byte($5, 6) * 128 + byte($5, 7)));
  p[n] = shown(cmd(byte($5, 10) * 128 + byte($5, 11)));
  if (first == 0) first = $1
}
$2 == "frame" && $3 == 15 && first > 0 && $1 > first + 1500 && $1 < until {
  checked++; sb = s16($5, 6); sp = s16($5, 10); ok = 0
  for (k = n; k > 0 && at[k] > $1 - 1500; k--) if (b[k] == sb && p[k] == sp) { ok = 1; break }
  if (ok) matched++; else if (bad < 5) { bad++; print "unmatched status at " $1 ": " sb " " sp }
  if (sb > maxb) maxb = sb; if (-sb > maxb) maxb = -sb
}
END { printf "status frames %d, matched %d, largest bank slider %d\n", checked, matched, maxb }
AWK
follow=$(awk -v until="$disengage_ms" -f "$work/follow.awk" "$work/efis.rec")
step "sliders: $follow"
echo "$follow" | grep -q "^unmatched" && fail "$follow"
checked=$(echo "$follow" | sed -n 's/.*status frames \([0-9]*\), matched \([0-9]*\).*/\1 \2/p')
set -- $checked
{ [ "$1" -ge 50 ] && [ "$1" = "$2" ]; } || fail "sliders did not follow: $follow"
largest=${follow##* }
[ "$largest" -ge 40 ] || fail "the roll-out never deflected the bank slider: $follow"

# ---- Disengage: the controls go back to the simulator's own pilot ----
key a
wait_for efis.out "autopilot disengaged"
disengaged_sim_lines=$(grep -c '^flight ' "$work/sim.out")
step "autopilot disengaged on the EFIS"
back=""
for _ in $(seq 600); do
  line=$(last_flight)
  if [ "$(field "$line" disconnect)" = 0 ] && abs_le "$(( $(field "$line" bank | tr -d '+' | cut -d. -f1) - 25 ))" 1; then
    back=$line
    break
  fi
  sleep 0.1
done
[ -n "$back" ] || fail "the simulator's pilot never took the controls back to its 25 degrees"
step "the simulator's pilot flies again: $back"
# 0 written at 0x310A after the disengagement, batch after batch.
zeros=$(grep -c 'offset 0x310A size 1 data 00' "$work/sim.rec")
[ "$zeros" -ge 20 ] || fail "only $zeros writes of 0 to 0x310A"
sleep 3
line=$(last_flight)
aileron=$(field "$line" aileron); elevator=$(field "$line" elevator)
status=$(grep ' frame 15 ' "$work/efis.rec" | tail -n 1 | awk '{ print $5 }')
read -r sb sp < <(awk -v h="$status" 'function byte(i) { return 16 * (index("0123456789abcdef",
  substr(h, 2 * i + 1, 1)) - 1) + index("0123456789abcdef", substr(h, 2 * i + 2, 1)) - 1 }
  function s16(i,  v) { v = byte(i) + 256 * byte(i + 1); return v >= 32768 ? v - 65536 : v }
  BEGIN { print s16(6), s16(10) }')
want_b=$(( -(aileron / 32) )); want_p=$(( -(elevator / 32) ))
step "bridge sliders: bank $((-sb)) pitch $sp; the simulator's inputs: aileron $aileron elevator $elevator"
abs_le $((sb - want_b)) 2 || fail "bank slider $((-sb)) is not the simulator's aileron $aileron / 32"
abs_le $((sp - want_p)) 2 || fail "pitch slider $sp is not the simulator's elevator -$elevator / 32"
abs_le "$want_b" 40 && fail "the simulator's pilot holds its bank without aileron? $aileron"

# ---- QNH changed in the simulator (20 s into the flight) reaches the EFIS ----
for _ in $(seq 900); do
  [ "$(field "$(last_flight)" qnh)" = 16320 ] && break
  sleep 0.1
done
[ "$(field "$(last_flight)" qnh)" = 16320 ] || fail "the simulator never changed its QNH"
wait_for efis.out "QNH 1020.0 hPa" 30
step "QNH 1020.0 set in the simulator reached the EFIS"

# ---- QNH from the EFIS reaches 0x0330 at the first turn of the knob and stays on the EFIS ----
sets=$(grep -c '^QNH set to ' "$work/efis.out")
key +
wait_for_re efis.out "^QNH set to" 10
for _ in $(seq 100); do
  [ "$(grep -c '^QNH set to ' "$work/efis.out")" -gt "$sets" ] && break
  sleep 0.1
done
want=$(grep '^QNH set to ' "$work/efis.out" | tail -n 1 | sed 's/^QNH set to \([0-9.]*\) hPa.*/\1/')
tenths=${want/./}
units=$(( tenths * 16 / 10 ))   # 1021.0 hPa: 10210 x 16 / 10 = 16336 in 1/16 hPa
qnh_ok=""
for _ in $(seq 100); do
  [ "$(field "$(last_flight)" qnh)" = "$units" ] && qnh_ok=$units && break
  sleep 0.1
done
[ -n "$qnh_ok" ] || fail "QNH $want set on the EFIS never reached 0x0330"
sleep 2
[ "$(field "$(last_flight)" qnh)" = "$units" ] || fail "0x0330 left $units"
grep '^panel:' "$work/efis.out" | tail -n 1 | grep -qF "QNH $want hPa" ||
  fail "the EFIS does not show QNH $want: $(grep '^panel:' "$work/efis.out" | tail -n 1)"
step "QNH $want set on the EFIS is at 0x0330 ($units) and on the EFIS"

grep -q '^bad frame' "$work/efis.out" && fail "korvan-efis saw malformed frames"
echo "e2e: level within ${took} s and kept, sliders followed, controls handed back, QNH both ways"
