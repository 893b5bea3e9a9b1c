#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: `wine-run.sh program.exe args...`.
# It is the cross-compiling emulator of the Windows build, so ctest runs every Windows test
# through it (and lists their cases with it). The exit code is the program's.
# `wine-run.sh --prepare [BINDIR]` only makes the prefix and starts the session, however long
# that takes, and exits: the test command runs it first, so that no test's time limit includes
# it. BINDIR holds wine-session-keeper.exe (a program run names its own folder).
# `wine-run.sh --finish` waits until the session has ended (see below), for a caller that
# wants nothing of it left running when it returns.
#
# One Wine prefix is made on first use and reused (KORVAN_WINEPREFIX, default
# /tmp/korvan-wine-<uid>). The runs of a prefix share one session: a wineserver that stays up,
# Wine's own background programs (services, the desktop with the window of the build's
# wine-session-keeper.exe that holds it up; one Wine desktop of 1280 x 1024 that every window
# of the session lives in), and without DISPLAY one Xvfb. The
# session is started apart from every run: none of its processes holds a run's output open
# (ctest would count a test as running until they all ended) and no run ever meets a
# wineserver that is on its way out (Wine's own default when its last program ends). A watcher
# ends the whole session a few seconds after the last run has finished, so nothing is left
# running. Parallel runs wait for each other only while the prefix or the session is being made.
#
# KORVAN_WINE_DPI=N (N not 96) runs the program at N dots per inch: in a prefix of its own beside
# the first, <prefix>-dpiN, with a session of its own, since the DPI is one registry value for
# the whole prefix that every program reads as it starts (so no run of the first prefix ever sees
# it change). KORVAN_WINE_SESSION=NAME runs it in <prefix>-NAME: window classes, pipes and the
# registry of its own, so that a long test that needs them does not hold them from the others.
# Such a prefix is a copy of the first when that one is ready (Wine's installed files
# hard-linked, which it never writes, the rest copied), else made from nothing; the DPI is set
# in it before its session's first program starts. `--finish` waits for these sessions too.
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [args...] | --prepare | --finish" >&2
  exit 2
fi
prepare_only=false
# The session's desktop keeper sits beside the programs of the build: beside the program run,
# or in the folder given after --prepare.
keeper=""
case "$1" in
  --prepare)
    prepare_only=true
    [ $# -ge 2 ] && keeper="$2/wine-session-keeper.exe"
    ;;
  --finish) ;;
  *) keeper="$(dirname "$1")/wine-session-keeper.exe" ;;
esac

base=${KORVAN_WINEPREFIX:-/tmp/korvan-wine-$(id -u)}
dpi=${KORVAN_WINE_DPI:-96}
case "$dpi" in
  '' | *[!0-9]* | 0*)
    echo "wine-run: KORVAN_WINE_DPI is \"$dpi\", not a number of dots per inch" >&2
    exit 2
    ;;
esac
name=${KORVAN_WINE_SESSION:-}
case "$name" in
  *[!a-z0-9]*)
    echo "wine-run: KORVAN_WINE_SESSION is \"$name\", not a name of small letters and digits" >&2
    exit 2
    ;;
esac
prefix=$base${name:+-$name}
[ "$dpi" = 96 ] || prefix=$prefix-dpi$dpi
state=${prefix}.state

if [ "$1" = --finish ]; then
  for session in "$base.state" "$base"-*.state; do
    watcher=$(cat "$session/watcher.pid" 2>/dev/null) || continue
    for _ in $(seq 1200); do
      kill -0 "$watcher" 2>/dev/null || continue 2
      sleep 0.1
    done
    echo "wine-run: the Wine session of ${session%.state} still runs after 2 minutes" >&2
    exit 1
  done
  exit 0
fi

mkdir -p "$state" || exit 2
export WINEPREFIX=$prefix
export WINEDEBUG=${KORVAN_WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: nothing here needs them, and a dialog would hang the run.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Every run holds the users lock shared for as long as its program runs (the program inherits
# it); the watcher takes it exclusive to know that no run is left. The setup lock serialises
# making the prefix and the session.
exec 8>"$state/users.lock"
flock -s 8
exec 9>"$state/setup.lock"
flock -x 9

# Runs a command of the session: in a session of its own, with neither lock nor our output.
session_command() {
  setsid "$@" </dev/null >>"$state/session.log" 2>&1 8>&- 9>&-
}

session_alive() {
  [ -s "$state/watcher.pid" ] && kill -0 "$(cat "$state/watcher.pid")" 2>/dev/null &&
    [ -s "$state/display" ]
}

start_xvfb() {
  local fifo="$state/displayfd.$$" number
  rm -f "$fifo"
  mkfifo "$fifo" || return 1
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null \
    >/dev/null 2>"$state/xvfb.log" 8>&- 9>&- &
  xpid=$!
  if ! read -r -t 60 number <"$fifo"; then
    rm -f "$fifo"
    kill "$xpid" 2>/dev/null
    echo "wine-run: Xvfb did not start (see $state/xvfb.log)" >&2
    return 1
  fi
  rm -f "$fifo"
  DISPLAY=":$number"
}

# The first prefix's system32 and winsxs (all but a few MB of it) are linked; what a program may
# write (the registry, the users' folders) is copied, so nothing done here reaches that prefix.
copy_base_prefix() {
  local new="$prefix.new.$$" windows=drive_c/windows
  echo "wine-run: making the Wine prefix $prefix at $dpi DPI from $base" >&2
  rm -rf "$prefix" "$new"
  mkdir -p "$new" &&
    tar -C "$base" --exclude="./$windows/system32" --exclude="./$windows/winsxs" -cf - . |
    tar -C "$new" -xf - &&
    cp -al "$base/$windows/system32" "$base/$windows/winsxs" "$new/$windows/" &&
    mv "$new" "$prefix" || {
    rm -rf "$new"
    echo "wine-run: cannot copy $base to $prefix" >&2
    return 1
  }
  touch "$state/prefix.ready"
}

make_prefix() {
  rm -f "$state/prefix.ready"
  if [ "$prefix" != "$base" ] && [ -f "$base.state/prefix.ready" ] && [ -d "$base" ]; then
    copy_base_prefix
    return
  fi
  echo "wine-run: making the Wine prefix $prefix (once; may take a minute)" >&2
  if ! session_command wineboot -i; then
    echo "wine-run: wineboot failed (see $state/session.log)" >&2
    return 1
  fi
  # Its wineserver writes the registry out as it ends.
  wineserver -w
  touch "$state/prefix.ready"
}

# Without the keeper (a program run from elsewhere) the first program that makes a window
# starts the desktop, and a test's output may stay open until the desktop ends.
start_keeper() {
  [ -n "$keeper" ] && [ -f "$keeper" ] || return 0
  local fifo="$state/keeper.$$" line=""
  rm -f "$fifo"
  mkfifo "$fifo" || return 1
  setsid wine "$keeper" </dev/null >"$fifo" 2>>"$state/session.log" 8>&- 9>&- &
  read -r -t 60 line <"$fifo"
  rm -f "$fifo"
  line=${line%$'\r'}  # a Windows program ends its lines with CR LF
  if [ "$line" != ready ]; then
    echo "wine-run: the session's desktop did not start (${line:-no answer in 60 s})" >&2
    return 1
  fi
}

start_session() {
  rm -f "$state/watcher.pid" "$state/display"
  # A wineserver left from a session whose watcher is gone would be reused by every program.
  wineserver -k >>"$state/session.log" 2>&1 && wineserver -w
  xpid=""
  if [ -z "${DISPLAY:-}" ]; then
    start_xvfb || return 1
  fi
  export DISPLAY
  if [ ! -f "$state/prefix.ready" ] || [ ! -d "$prefix" ]; then
    make_prefix || return 1
  fi
  # A wineserver that stays until the watcher ends it (it puts itself in the background once
  # it serves); then Wine's background programs, which a session's first program starts, and
  # its desktop, kept up by the keeper's window until the watcher ends the session.
  session_command wineserver -p
  if [ "$dpi" != 96 ] &&
    ! session_command wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
      /d "$dpi" /f; then
    echo "wine-run: cannot set $dpi DPI in $prefix (see $state/session.log)" >&2
    return 1
  fi
  # Every window in one Wine desktop of the screen's size, as on Windows: Wine then manages the
  # windows itself. A window of its own on the X server would wait 2 s on each hide for a window
  # manager that Xvfb does not have (a minute of the Windows tests). KORVAN_WINE_DESKTOP=none
  # gives each window its own X window instead (korvan-bench: its figures were taken so).
  if [ "${KORVAN_WINE_DESKTOP:-}" = none ]; then
    session_command wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f
  elif ! session_command wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f ||
    ! session_command wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
      /d 1280x1024 /f; then
    echo "wine-run: cannot set the Wine desktop in $prefix (see $state/session.log)" >&2
    return 1
  fi
  if ! session_command wine rundll32.exe user32.dll,GetDesktopWindow; then
    echo "wine-run: the Wine session did not start (see $state/session.log)" >&2
    return 1
  fi
  start_keeper || return 1
  # The watcher: once no run holds the users lock for a few seconds, end the session, all
  # under the users lock. It also ends it when Xvfb has gone.
  setsid bash -c '
    state=$1 xpid=$2
    exec 8>"$state/users.lock"
    while [ -z "$xpid" ] || kill -0 "$xpid" 2>/dev/null; do
      flock -x 8
      flock -u 8
      sleep 5
      flock -x -n 8 && break
    done
    flock -x 8
    rm -f "$state/watcher.pid" "$state/display"
    wineserver -k
    wineserver -w
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    exit 0
  ' korvan-wine-watch "$state" "$xpid" </dev/null >>"$state/session.log" 2>&1 8>&- 9>&- &
  echo $! >"$state/watcher.pid"
  echo "$DISPLAY" >"$state/display"
}

if session_alive; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
elif ! start_session; then
  exit 2
fi
flock -u 9
exec 9>&-

if $prepare_only; then
  echo "wine-run: the Wine prefix $prefix is ready" >&2
  exit 0
fi
# The program takes this process over, the users lock with it: whoever ends this process (a
# test's time limit, a script's cleanup) ends the program.
exec wine "$@"
