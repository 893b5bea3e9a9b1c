#!/usr/bin/env bash
# Fault injection with the three real programs: korvan-sim, korvan-efis and korvan-bridge (GTK).
#   faults.sh <bin dir> <case>        Run inside xvfb-run.
# Cases:
#   sim-killed        korvan-sim killed mid-session: one "FlightSim problem: " line, the EFIS link
#                     untouched; "Reconnect to Flight simulator" connects once it is back. All of
#                     it with a log folder that cannot be made.
#   silent-module     the module stops answering: the tick blocks about 4.1 s, then one
#                     "FlightSim problem: IPC timed out all retries".
#   efis-unplugged    korvan-efis killed mid-write: one failure line, later senders silent, the
#                     simulator side unaffected; "Reconnect to EFIS " works once it is back.
#   efis-stopped      korvan-efis stopped (SIGSTOP): the writes fill its socket, then one write
#                     fails within the 2 s bound; no exchange waits longer than that; the rest
#                     as above after SIGCONT.
#   unit-silent       a unit that falls silent after servo frames, again and again: the watchdog
#                     restarts the reader; threads and open files do not grow.
#   area-truncated    the shared area cut to 0 bytes under the bridge: no SIGBUS, one "FlightSim
#                     problem: IPC request contains bad data", a reconnect makes a new area.
#   stop-signals      SIGTERM, SIGINT and SIGHUP close the bridge as its close button does (exit
#                     0, atom and area gone, no extra exchange while disengaged, the log file's
#                     exit line); a bridge killed outright costs nothing either, and its log,
#                     without the exit line, is the next start's korvan-bridge.log.1.
#   one-copy          with the EFIS autopilot engaged: a second bridge exits at once and leaves
#                     the first untouched (its log file too); SIGTERM then hands the controls
#                     back with one last exchange that writes 0 at 0x310A.
bin=$1
case_name=$2
source "$(dirname "$0")/three_programs.sh"

# The three programs, connected, with frames and exchanges flowing.
start_all() {
  start_sim --verbose "${sim_args[@]}"
  start_efis --panel none --verbose "${efis_args[@]}"
  start_bridge
  wait_for bridge.err "EFIS data write channel OK"
  wait_for efis.out "frame type 11,"
  step "the three programs run and exchange"
}
sim_args=()
efis_args=()

sim_exchanges() { grep -c ' exchange [0-9]*: [0-9]* reads' "$work/sim.out" || true; }
efis_frames() { count efis.out "frame type "; }
failure_lines() { grep -c 'Cannot send .* to USB, EFIS disconnected' "$work/bridge.err" || true; }

case_sim-killed() {
  # Under a regular file no folder can be made, for root too.
  printf 'not a folder' >"$work/not-a-folder"
  export XDG_STATE_HOME=$work/not-a-folder/state
  start_all
  kill -9 "$sim"
  wait_for bridge.err "FlightSim problem: "
  local frames=$(efis_frames)
  sleep 3
  [ "$(count bridge.err 'FlightSim problem: ')" = 1 ] || fail "more than one FlightSim problem line"
  grep -F "FlightSim problem: " "$work/bridge.err" | grep -qF "IPC sendmessage failed all retries" ||
    fail "a gone module is a failed send"
  [ "$(failure_lines)" = 0 ] || fail "the EFIS link went down with the simulator"
  kill -0 "$bridge" || fail "the bridge ended"
  step "one FlightSim problem line; the EFIS link stays up (frames so far: $frames)"
  rm -f "$work/sim.out"
  start_sim --verbose
  click_reconnect sim
  wait_for_count bridge.err "Connected to FSX" 2
  [ "$(count bridge.err 'Connected to FSX')" = 2 ] || fail "more than a second connect"
  wait_for sim.out "exchange 20:"
  for _ in $(seq 600); do [ "$(efis_frames)" -gt "$((frames + 20))" ] && break; sleep 0.05; done
  [ "$(efis_frames)" -gt "$((frames + 20))" ] || fail "no frames after the reconnect"
  step "reconnected: the cycle exchanges with the new module and the EFIS gets frames again"
  [ "$(cat "$work/not-a-folder")" = "not a folder" ] || fail "the log touched what is in its way"
  step "all of it without a log file (its folder cannot be made)"
}

case_silent-module() {
  sim_args=(--silent-after 30)
  start_all
  wait_for sim.out "exchange 31: not answered"
  wait_for bridge.err "FlightSim problem: IPC timed out all retries" 30
  local from to took
  from=$(when sim.out "exchange 31: not answered")
  to=$(when bridge.err "FlightSim problem: IPC timed out all retries")
  took=$(elapsed "$from" "$to")
  step "the tick blocked $took s, then: FlightSim problem: IPC timed out all retries"
  # Ten attempts of 400 ms and ten pauses of 10 ms: about 4.1 s; never less than the ten timeouts.
  between 3.95 "$took" 15 || fail "the timed-out line came after $took s"
  sleep 2
  [ "$(count bridge.err 'FlightSim problem: ')" = 1 ] || fail "more than one FlightSim problem line"
  [ "$(count sim.out 'not answered')" = 10 ] || fail "not ten attempts: $(count sim.out 'not answered')"
}

# After a failure line: later senders silent, the simulator side goes on.
check_efis_down() {
  local exchanges_then
  exchanges_then=$(sim_exchanges)
  sleep 3
  [ "$(failure_lines)" = 1 ] || fail "$(failure_lines) failure lines"
  [ "$(count bridge.err 'FlightSim problem: ')" = 0 ] || fail "the simulator side was hit"
  [ "$(sim_exchanges)" -gt "$((exchanges_then + 10))" ] || fail "the exchanges stopped"
  step "one failure line: $(grep -o 'Cannot send .* disconnected' "$work/bridge.err")"
}

# korvan-efis back (a new one, or the stopped one going on): the reconnect connects again.
check_efis_back() {
  local frames
  click_reconnect efis
  wait_for_count bridge.err "EFIS data write channel OK" 2
  [ "$(count bridge.err 'EFIS data write channel OK')" = 2 ] || fail "more than a second EFIS connect"
  frames=$(efis_frames)
  for _ in $(seq 600); do [ "$(efis_frames)" -gt "$((frames + 20))" ] && break; sleep 0.05; done
  [ "$(efis_frames)" -gt "$((frames + 20))" ] || fail "no frames after the EFIS reconnect"
  step "\"Reconnect to EFIS \" connected again and frames flow"
}

case_efis-unplugged() {
  start_all
  kill -9 "$efis"
  for _ in $(seq 1200); do [ "$(failure_lines)" -ge 1 ] && break; sleep 0.05; done
  [ "$(failure_lines)" -ge 1 ] || fail "no failure line after the unit went"
  check_efis_down
  rm -f "$work/efis.out"
  start_efis --panel none --verbose
  check_efis_back
}

case_efis-stopped() {
  start_all
  local stopped failed took gap
  kill -STOP "$efis"
  stopped=$EPOCHREALTIME
  for _ in $(seq 1200); do [ "$(failure_lines)" -ge 1 ] && break; sleep 0.05; done
  [ "$(failure_lines)" -ge 1 ] || fail "no failure line while the unit is stopped"
  failed=$(grep -m1 'Cannot send .* to USB, EFIS disconnected' "$work/bridge.err" | cut -d' ' -f1)
  took=$(elapsed "$stopped" "$failed")
  # The longest time between two exchanges the module saw: the bridge blocked at most one bound.
  gap=$(grep ' exchange [0-9]*: [0-9]* reads' "$work/sim.out" |
    awk -v from="$stopped" -v to="$failed" '$1 >= from - 1 && $1 <= to + 1 {
      if (last && $1 - last > gap) gap = $1 - last; last = $1 } END { printf "%.1f", gap }')
  step "stopped unit: the failure line after $took s (the socket filled first); longest wait between exchanges $gap s"
  between 2 "$gap" 4.5 || fail "the bridge waited $gap s for a stopped unit (bound 2 s)"
  check_efis_down
  kill -CONT "$efis"
  check_efis_back
}

case_unit-silent() {
  efis_args=(--silent-after 2 --silent-for 2)
  start_all
  sleep 5
  local threads0 files0 max_threads=0 max_files=0 t f
  threads0=$(threads "$bridge")
  files0=$(open_files "$bridge")
  for _ in $(seq 60); do
    t=$(threads "$bridge"); f=$(open_files "$bridge")
    [ "$t" -gt "$max_threads" ] && max_threads=$t
    [ "$f" -gt "$max_files" ] && max_files=$f
    sleep 0.5
  done
  local threads1 files1 silences
  threads1=$(threads "$bridge")
  files1=$(open_files "$bridge")
  silences=$(count efis.out "falling silent")
  step "after $silences silences: threads $threads0 -> $threads1 (at most $max_threads), open files $files0 -> $files1 (at most $max_files)"
  [ "$threads1" -le "$threads0" ] || fail "threads grew"
  [ "$files1" -le "$files0" ] || fail "open files grew"
  [ "$max_threads" -le "$((threads0 + 1))" ] || fail "threads piled up"
  [ "$max_files" -le "$((files0 + 1))" ] || fail "open files piled up"
  [ "$(failure_lines)" = 0 ] || fail "the EFIS link went down"
}

case_area-truncated() {
  start_all
  local area
  area=$(ls "$root/mappings")
  truncate -s 0 "$root/mappings/$area"
  wait_for bridge.err "FlightSim problem: IPC request contains bad data" 30
  sleep 2
  kill -0 "$bridge" || fail "the bridge died"
  [ "$(count bridge.err 'FlightSim problem: ')" = 1 ] || fail "more than one FlightSim problem line"
  step "area cut to 0 bytes: the bridge lives on and says: IPC request contains bad data"
  local exchanges_then
  exchanges_then=$(sim_exchanges)
  click_reconnect sim
  wait_for_count bridge.err "Connected to FSX" 2
  [ "$(count bridge.err 'Connected to FSX')" = 2 ] || fail "more than one reconnect"
  for _ in $(seq 600); do [ "$(sim_exchanges)" -gt "$((exchanges_then + 20))" ] && break; sleep 0.05; done
  [ "$(sim_exchanges)" -gt "$((exchanges_then + 20))" ] || fail "no exchanges after the reconnect"
  [ "$(ls "$root/mappings")" = "$area" ] || fail "areas now: $(ls "$root/mappings")"
  [ "$(stat -c %s "$root/mappings/$area")" = 32768 ] || fail "the new area is not whole"
  step "reconnected over a new area"
}

# The records of korvan-sim's last batch (--record), without their batch number.
last_batch() {
  awk '$1 == "batch" { if ($2 != n) { n = $2; b = "" } sub(/^batch [0-9]+ /, ""); b = b $0 ";" }
       END { print b }' "$work/sim.rec"
}
lone_handback="id 2 offset 0x310A size 1 data 00;"

case_stop-signals() {
  start_sim --verbose --record "$work/sim.rec"
  start_efis --panel none --verbose
  local sig status
  for sig in TERM INT HUP; do
    rm -f "$work/bridge.err"
    start_bridge
    wait_for bridge.err "EFIS data write channel OK"
    [ "$(ls "$root/atoms" | wc -l)" = 1 ] && [ "$(ls "$root/mappings" | wc -l)" = 1 ] ||
      fail "a connected bridge holds one atom and one area"
    kill -s "$sig" "$bridge"
    wait "$bridge"
    status=$?
    [ "$status" = 0 ] || fail "SIG$sig: the bridge ended with status $status"
    [ -z "$(ls "$root/atoms")" ] || fail "SIG$sig left atoms: $(ls "$root/atoms")"
    [ -z "$(ls "$root/mappings")" ] || fail "SIG$sig left areas: $(ls "$root/mappings")"
    [ "$(last_batch)" != "$lone_handback" ] || fail "SIG$sig: a disengaged close made an exchange"
    [ "$(log_line "$log" 1)" = "korvan-bridge 1.1 started on $(uname -sr)" ] &&
      [ "$(log_line "$log" '$')" = "korvan-bridge 1.1 exits" ] || fail "SIG$sig: the log file"
    if [ $sig != TERM ]; then
      [ "$(log_line "$log.1" '$')" = "korvan-bridge 1.1 exits" ] || fail "no previous run's log"
    fi
    step "SIG$sig: the window closed, exit 0, no atom, no area, no extra exchange, the log's exit line"
  done
  # Killed outright: what it held stays until the next bridge takes it back.
  rm -f "$work/bridge.err"
  start_bridge
  wait_for bridge.err "EFIS data write channel OK"
  kill -9 "$bridge"
  wait "$bridge"
  [ "$(ls "$root/atoms" | wc -l)" = 1 ] || fail "a killed bridge left no atom?"
  local old_area
  old_area=$(ls "$root/mappings")
  rm -f "$work/bridge.err"
  start_bridge
  wait_for bridge.err "EFIS data write channel OK"
  [ "$(ls "$root/atoms" | wc -l)" = 1 ] || fail "atoms now: $(ls "$root/atoms")"
  [ "$(ls "$root/mappings" | wc -l)" = 1 ] || fail "areas now: $(ls "$root/mappings")"
  [ "$(ls "$root/mappings")" != "$old_area" ] || fail "the killed bridge's area is still there"
  [ "$(log_line "$log.1" '$')" = "EFIS data write channel OK" ] ||
    fail "the killed bridge's log: $(log_line "$log.1" '$')"
  [ "$(grep -c . "$log")" = 5 ] || fail "the new log: $(cat "$log")"
  kill -TERM "$bridge"
  wait "$bridge"
  [ -z "$(ls "$root/atoms")$(ls "$root/mappings")" ] || fail "left behind after the last bridge"
  step "a killed bridge's atom and area went with the next bridge's start, its log to .log.1"
}

case_one-copy() {
  start_sim --verbose --record "$work/sim.rec"
  start_efis --panel none --verbose --bank-mode 3 --bank-pos 5600
  start_bridge
  wait_for bridge.err "EFIS data write channel OK"
  wait_for sim.rec "offset 0x0BB6 size 2 data 0010"
  step "the autopilot flies: 4096 at 0x0BB6"
  local started status took
  started=$EPOCHREALTIME
  "$bin/korvan-bridge" >"$work/second.out" 2>"$work/second.err"
  status=$?
  took=$(elapsed "$started" "$EPOCHREALTIME")
  [ "$status" = 0 ] || fail "the second copy ended with status $status"
  grep -qF "another copy runs in this session" "$work/second.err" || fail "the second copy said nothing"
  between 0 "$took" 10 || fail "the second copy took $took s"
  [ "$(grep -c 'offset 0x330A' "$work/sim.rec")" = 1 ] || fail "a second handshake at the module"
  [ "$(count efis.out 'open PIPE00')" = 1 ] || fail "a second opener of the EFIS"
  [ "$(count bridge.err 'Connected to FSX')" = 1 ] || fail "the first copy's log changed"
  [ ! -e "$log.1" ] && [ "$(grep -c ' started on ' "$log")" = 1 ] ||
    fail "the second copy touched the log file"
  kill -0 "$bridge" || fail "the first copy ended"
  step "the second copy left after $took s; the first kept its link, its EFIS, one handshake"
  kill -TERM "$bridge"
  wait "$bridge"
  status=$?
  [ "$status" = 0 ] || fail "SIGTERM: the bridge ended with status $status"
  [ "$(last_batch)" = "$lone_handback" ] || fail "the last batch was: $(last_batch)"
  step "closed while engaged: the last exchange wrote 0 at 0x310A alone"
}

declare -F "case_$case_name" >/dev/null || { echo "faults.sh: no case $case_name"; exit 2; }
"case_$case_name"
echo "faults.sh $case_name: passed"
