#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: `wine-run.sh program.exe args...`.
# It is the cross-compiling emulator of the Windows build, so ctest runs every Windows test
# through it. The exit code is the program's.
#
# One Wine prefix is made on first use and reused (KORVAN_WINEPREFIX, default
# /tmp/korvan-wine-<uid>); parallel runs wait for each other only while it is being made.
# Without DISPLAY one Xvfb and one wine server are shared by all runs of the prefix, and a
# watcher ends both a few seconds after the last run has finished, so nothing is left running.
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [args...]" >&2
  exit 2
fi

prefix=${KORVAN_WINEPREFIX:-/tmp/korvan-wine-$(id -u)}
state=${prefix}.state
mkdir -p "$state" || exit 2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs: nothing here needs them, and a dialog would hang the run.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Every run holds the users lock shared; the Xvfb watcher takes it exclusive to know that no
# run is left. The setup lock serialises making the prefix and starting Xvfb.
exec 8>"$state/users.lock"
flock -s 8
exec 9>"$state/setup.lock"
flock -x 9

start_xvfb() {
  local displayfile="$state/xvfb.display" pidfile="$state/xvfb.pid"
  if [ -s "$displayfile" ] && [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
    DISPLAY=$(cat "$displayfile")
    export DISPLAY
    return 0
  fi
  rm -f "$displayfile" "$pidfile"
  local fifo="$state/displayfd.$$"
  rm -f "$fifo"
  mkfifo "$fifo" || return 1
  # setsid: Xvfb and its watcher belong to no test, so ctest's kill of a timed-out test
  # does not take the display away from the others.
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" \
    </dev/null >/dev/null 2>"$state/xvfb.log" 8>&- 9>&- &
  local xpid=$!
  local number
  if ! read -r -t 30 number <"$fifo"; then
    rm -f "$fifo"
    kill "$xpid" 2>/dev/null
    echo "wine-run: Xvfb did not start (see $state/xvfb.log)" >&2
    return 1
  fi
  rm -f "$fifo"
  echo "$xpid" >"$pidfile"
  echo ":$number" >"$displayfile"
  DISPLAY=":$number"
  export DISPLAY
  fresh_display=1
  # The watcher: once no run holds the users lock for a few seconds, end Xvfb (and the idle
  # wineserver with it) and forget the display, all under the users lock.
  setsid bash -c '
    state=$1 xpid=$2
    exec 8>"$state/users.lock"
    while kill -0 "$xpid" 2>/dev/null; do
      flock -x 8
      flock -u 8
      sleep 5
      if flock -x -n 8; then
        rm -f "$state/xvfb.display" "$state/xvfb.pid"
        wineserver -k 2>/dev/null
        kill "$xpid" 2>/dev/null
        exit 0
      fi
    done
  ' korvan-xvfb-watch "$state" "$xpid" </dev/null >/dev/null 2>&1 8>&- 9>&- &
  return 0
}

if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 2
fi

if [ ! -f "$state/prefix.ready" ] || [ ! -d "$prefix" ]; then
  echo "wine-run: making the Wine prefix $prefix (once; may take a minute)" >&2
  rm -f "$state/prefix.ready"
  if ! wineboot -i >"$state/wineboot.log" 2>&1 8>&-; then
    echo "wine-run: wineboot failed (see $state/wineboot.log)" >&2
    exit 2
  fi
  wineserver -w 8>&-
  touch "$state/prefix.ready"
fi
# One wine server for a whole session of runs, ended by the watcher with Xvfb: a server that
# ends between two runs refuses a run that starts just then ("cannot connect").
# Wine's own processes (services.exe, ...) start with the first program of the session and
# stay with the server: started here, they hold no run's output open.
if [ -n "${fresh_display:-}" ]; then
  wineserver -w 8>&-
  setsid wineserver -p </dev/null >/dev/null 2>&1 8>&- 9>&-
  wine cmd /c exit </dev/null >/dev/null 2>&1 8>&- 9>&-
fi
flock -u 9
exec 9>&-

# The users lock stays with this script.
wine "$@" 8>&-
