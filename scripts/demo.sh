#!/usr/bin/env bash
# Runs the demo on the built-in sample site; until the demo exists, shows every id of the
# sample site with its tag instead.
set -u
bin="${1:-build/dev}/bin"
"$bin/kep-host" demo
rc=$?
if [ "$rc" -eq 2 ]; then
  echo "(the demo is not there yet; the built-in sample site instead:)"
  "$bin/kep-host" tags
  exit $?
fi
exit "$rc"
