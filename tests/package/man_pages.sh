#!/usr/bin/env bash
# The manual pages lint clean (mandoc) and tvdbmgr(1) has an entry for
# every command and option that "tvdbmgr -h" lists, long options included.
#   man_pages.sh <tvdbmgr> <directory of the pages>
set -euo pipefail
tool=$1 pages=$2
status=0

mandoc -T lint -W all "$pages"/*.1 || status=1

usage=$("$tool" -h || true)
# "   -c <config> : ..." and "   batch <file>  : ...": the word before
# the first space (or argument) of each indented line.
for word in $(printf '%s\n' "$usage" | sed -n 's/^   \([-a-zA-Z]*\).*/\1/p'); do
  # An entry starts a line with .B, .BI or .BR and the word, dashes
  # escaped.
  pattern="^\.B[IR]\? $(printf '%s' "$word" | sed 's/-/\\\\-/g')\( \|$\)"
  if ! grep -q "$pattern" "$pages/tvdbmgr.1"; then
    echo "tvdbmgr.1 has no entry for \"$word\" of tvdbmgr -h" >&2
    status=1
  fi
done
for long in $(printf '%s\n' "$usage" | sed -n 's/^   -[a-zA-Z], \(--[a-z-]*\).*/\1/p'); do
  if ! grep -q "$(printf '%s' "$long" | sed 's/-/\\\\-/g')" "$pages/tvdbmgr.1"; then
    echo "tvdbmgr.1 does not mention \"$long\" of tvdbmgr -h" >&2
    status=1
  fi
done
exit $status
