#!/usr/bin/env bash
# Fails when a function of the product (app/, efis/, simlink/, timer/, platform/, standins/)
# runs over a length, and lists those that do, longest first. pmccabe counts a function's lines
# from its first to its closing brace; it reads the files as they are, without a compiler, so
# the Win32 and GTK files are read on any machine.
#   scripts/function-length.sh [--over N]      N: 60 by default
set -euo pipefail
cd "$(dirname "$0")/.."
over=60
[ "${1:-}" = --over ] && over=$2

mapfile -t files < <(git ls-files 'app/*' 'efis/*' 'simlink/*' 'timer/*' 'platform/*' 'standins/*' |
  grep -E '\.(cpp|h|c)$')
# Columns: complexity, traditional complexity, statements, first line, lines, file(line): name.
# pmccabe warns about scopes it cannot close (a class with a base, noexcept, asm operands): the
# names it prints then carry extra scopes, the line counts stay right.
long=$(pmccabe "${files[@]}" 2>/dev/null | awk -F'\t' -v over="$over" '$5 > over' | sort -t$'\t' -k5,5nr)
if [ -n "$long" ]; then
  echo "functions over $over lines (lines, where, name):"
  echo "$long" | awk -F'\t' '{ print "  " $5 "  " $6 }'
  exit 1
fi
echo "no function of ${#files[@]} files is over $over lines"
