#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Usage: scripts/install-deps.sh test|demo
set -euo pipefail
what=${1:-test}

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
want() { for p in "$@"; do have_pkg "$p" || need+=("$p"); done; }

want cmake g++ make pkg-config libgtest-dev googletest libgtk-3-dev xvfb x11-utils xdotool imagemagick
if [ "$what" = test ]; then
  want g++-mingw-w64-x86-64-posix wine wine64
  # The fuzz targets: clang 14 with libFuzzer and the sanitizers' runtime.
  want clang-14 libclang-rt-14-dev
  # The function-length check of the test command.
  want pmccabe
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
