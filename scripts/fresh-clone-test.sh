#!/usr/bin/env bash
# The first-run check: the test command (.ci/run) in a fresh clone of this repository's HEAD, as
# on a new machine or CI runner: no build/, a Wine prefix path that does not exist yet, no
# DISPLAY. Only committed work is cloned.
#
#   scripts/fresh-clone-test.sh [DIR]    DIR: an empty or new directory for the clone and the
#                                        prefix (default: a new one under /tmp)
#
# Passed: DIR is removed. Failed: DIR is kept to look at.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d /tmp/korvan-fresh.XXXXXX)}
mkdir -p "$work"
git clone -q "$source" "$work/repo"

unset DISPLAY
export KORVAN_WINEPREFIX=$work/wine
begun=$SECONDS
status=0
(cd "$work/repo" && bash .ci/run) || status=$?
took=$((SECONDS - begun))
# The prefix's session ends by itself a few seconds after the last test; wait for it.
(cd "$work/repo" && tests/wine/wine-run.sh --finish) || true

if [ $status -ne 0 ]; then
  echo "fresh clone: the test command FAILED (exit $status) after $took s; see $work" >&2
  exit $status
fi
echo "fresh clone: the test command passed on its first run in $took s ($((took / 60)) min $((took % 60)) s)"
rm -rf "$work"
