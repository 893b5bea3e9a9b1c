#!/usr/bin/env bash
# The whole system for a long while: korvan-sim flying its tour, korvan-bridge (GTK) and
# korvan-efis, with the EFIS autopilot engaged and disengaged every 10 s, the QNH changed on the
# EFIS every 30 s (15 s after each change) and in the simulator every 30 s.
#   soak.sh <bin dir> <seconds>        Run inside xvfb-run. The release build is the one to soak.
# Verdicts: the bridge's resident memory after the first minute stays within 1 % of what it was
# then; the two sides never disagree on the QNH for longer than 8 s (no setting lost, from
# either side); the bridge logs nothing but its four connect lines; every program keeps running
# and korvan-efis sees no malformed frame.
bin=$1
seconds=${2:-600}
source "$(dirname "$0")/../integration/three_programs.sh"

mkfifo "$work/keys"
exec 3<>"$work/keys"  # read-write: neither end waits for the other
key() { printf '%s' "$1" >&3; }

start_sim --fly --pilot tour --qnh-every 30
start_efis --panel text --panel-every 1
start_bridge
wait_for bridge.err "EFIS data write channel OK"
wait_for efis.out "Korvan EFIS -- AP"
begin=${EPOCHREALTIME/./}  # microseconds
step "soaking for $seconds s"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$bridge/status"; }
# The newest line of FILE that matches PATTERN (grep's options after it): read from the end, as
# the outputs grow all through the run and a grep of the whole file each second would cost ever
# more of the machine.
newest() { tac "$work/$1" | grep -m 1 "${@:3}" -e "$2"; }
# The QNH each side holds now, in 1/16 hPa: the simulator's 0x0330, and the unit's setting
# (0.1 hPa) as its text panel shows it.
sim_qnh() { newest sim.out '^[0-9.]* flight ' | tr ' ' '\n' | sed -n 's/^qnh=//p'; }
efis_qnh() {
  newest efis.out '-- Korvan EFIS --' -F |
    sed -n 's/.*QNH \([0-9]*\)\.\([0-9]\) hPa.*/\1\2/p'
}
agree() {  # |tenths x 16 / 10 - units| <= 1: the same setting in both units
  awk -v t="$1" -v u="$2" 'BEGIN { d = t * 16 / 10 - u; exit !(t != "" && u != "" && d <= 1.6 && d >= -1.6) }'
}

rss_at_minute=""
rss_max=0
disagree_since=""
longest_disagreement=0
efis_changes=0
not_taken=0
toggles=0
up=1
last_efis_key=""
efis_wanted=""
for ((t = 1; t <= seconds; t++)); do
  left=$((begin + t * 1000000 - ${EPOCHREALTIME/./}))
  ((left <= 0)) || sleep "$((left / 1000000)).$(printf '%06d' $((left % 1000000)))"
  for p in "$sim" "$efis" "$bridge"; do kill -0 "$p" 2>/dev/null || fail "a program ended at $t s"; done
  if (( t % 10 == 0 )); then
    key a
    toggles=$((toggles + 1))
  fi
  if (( t % 30 == 15 )); then
    if (( up )); then key +; else key -; fi
    up=$((1 - up))
    efis_changes=$((efis_changes + 1))
    last_efis_key=$t
    efis_wanted=""
  fi
  # What the unit asked for, once it says so; whether the simulator got it, 8 s later.
  if [ -n "$last_efis_key" ] && [ -z "$efis_wanted" ]; then
    efis_wanted=$(newest efis.out 'QNH set to' -F | sed -n 's/.*QNH set to \([0-9]*\)\.\([0-9]\) hPa.*/\1\2/p')
  fi
  if [ -n "$last_efis_key" ] && (( t == last_efis_key + 8 )); then
    agree "$efis_wanted" "$(sim_qnh)" || not_taken=$((not_taken + 1))
  fi
  s=$(sim_qnh); e=$(efis_qnh)
  if agree "$e" "$s"; then
    disagree_since=""
  else
    [ -n "$disagree_since" ] || disagree_since=$t
    (( t - disagree_since > longest_disagreement )) && longest_disagreement=$((t - disagree_since))
    (( t - disagree_since > 8 )) && fail "at $t s the QNH has differed for 8 s: simulator $s/16, EFIS $e/10"
  fi
  r=$(rss)
  if (( t == 60 )); then rss_at_minute=$r; fi
  if (( t > 60 )) && (( r > rss_max )); then rss_max=$r; fi
  if (( t % 60 == 0 )); then step "$t s: bridge RSS $r kB, QNH simulator $s/16 EFIS $e/10, autopilot toggled $toggles times"; fi
done

# The log: the four connect lines and nothing else.
lines=$(cut -d' ' -f2- "$work/bridge.err")
expected=$'Connected to FSX\nEFIS detected on USB, driver initialized.\nEFIS data read channel OK\nEFIS data write channel OK'
[ "$lines" = "$expected" ] || fail "unexpected log lines: $(echo "$lines" | tail -n +5 | sort | uniq -c | head)"
[ "$(count efis.out 'bad frame')" = 0 ] || fail "korvan-efis saw malformed frames"
[ -s "$work/sim.err" ] && fail "korvan-sim complained: $(head -n 3 "$work/sim.err")"
engaged=$(count efis.out 'autopilot engaged')
disengaged=$(count efis.out 'autopilot disengaged')
{ [ "$engaged" -ge $((toggles / 2)) ] && [ "$disengaged" -ge $((toggles / 2 - 1)) ]; } ||
  fail "autopilot toggled $toggles times, engaged $engaged, disengaged $disengaged"
grep -q 'disconnect=3' "$work/sim.out" || fail "the autopilot never flew the simulator"
sim_steps=$(awk '$2 == "flight" { for (i = 3; i <= NF; i++) if ($i ~ /^qnh=/) q = $i;
  if (last != "" && q != last) n++; last = q } END { print n + 0 }' "$work/sim.out")

growth=$(awk -v a="$rss_at_minute" -v m="$rss_max" 'BEGIN { printf "%.2f", (m - a) * 100 / a }')
summary="soak: $seconds s; bridge RSS $rss_at_minute kB at 1 min, at most $rss_max kB after (+$growth %);"
summary+=" autopilot toggled $toggles times (engaged $engaged, disengaged $disengaged);"
summary+=" QNH changed on the EFIS $efis_changes times ($not_taken not in the simulator 8 s later: a newer"
summary+=" setting of its own), $sim_steps changes of 0x0330 seen;"
summary+=" the sides never differed longer than $longest_disagreement s; log: the 4 connect lines"
echo "$summary"
awk -v g="$growth" 'BEGIN { exit !(g <= 1.0) }' || fail "resident memory grew $growth % after the first minute"
echo "soak.sh: passed"
