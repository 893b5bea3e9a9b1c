#!/usr/bin/env bash
# korvan-efis --replay on a recording: no device, no bridge, the panel from the frames alone.
#   efis_replay_check.sh <record file> <korvan-efis> (or a runner and korvan-efis.exe)
set -uo pipefail
record=$1
shift
efis=("$@")
out=$(env -u DISPLAY "${efis[@]}" --replay "$record" --panel none) || {
  echo "FAIL: exit $?"; echo "$out"; exit 1; }
echo "$out"
for want in "replayed 31 frames" "BANK -12.4  PITCH 2.3  HDG 258.2" "ALT 4497 ft  IAS 123 mph" \
            "QNH 1009.0 hPa" "ENG1 2550 rpm" "ENG2 2540 rpm" "GPS N52.3082504 E4.7594681" \
            "bridge shows bank -51 pitch -81"; do
  grep -qF -- "$want" <<<"$out" || { echo "FAIL: no \"$want\""; exit 1; }
done
missing=$(env -u DISPLAY "${efis[@]}" --replay /nonexistent/file --panel none 2>&1) && {
  echo "FAIL: a missing recording replayed"; exit 1; }
# The layer and the system's own text for the error.
grep -qF "korvan-efis: C library: fopen /nonexistent/file failed: No such file or directory" \
  <<<"$missing" || { echo "FAIL: $missing"; exit 1; }
echo "korvan-efis --replay: the panel from recorded frames alone"
