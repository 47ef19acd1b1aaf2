#!/usr/bin/env bash
# What the 3D page of a search costs (not part of the test run): on a generated site of N lines
# (default 100,000), the processor time (user + system) of a whole kep-host volume-search alone
# and with --html, three rounds taking turns, medians; the page's bytes per line; and the time
# from opening the page in headless Chromium to its first frame ("drawn N" in #kep-status).
#
# Usage: bench/page_bench.sh BUILD_DIR [LINES]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [LINES]}" && pwd)
lines=${2:-100000}
host="$build/bin/kep-host"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$host" generate --lines "$lines" --seed 7 >"$work/site.json"
search=(--site "$work/site.json" volume-search --window w1 --delta 5 --box 0.5 -0.5 0 1.5 0.5 0.8)
cpu() { /usr/bin/time -f '%U %S' -o "$work/t" "$@" >/dev/null && awk '{ print $1 + $2 }' "$work/t"; }
median() { sort -g | sed -n 2p; }
alone=(); page=()
for round in 1 2 3; do
  alone+=("$(cpu "$host" "${search[@]}")")
  page+=("$(cpu "$host" "${search[@]}" --html "$work/page.html")")
done
a=$(printf '%s\n' "${alone[@]}" | median)
p=$(printf '%s\n' "${page[@]}" | median)
bytes=$(stat -c %s "$work/page.html")
echo "lines: $lines"
echo "search alone: ${a} s processor (rounds: ${alone[*]})"
echo "search with --html: ${p} s processor (rounds: ${page[*]})"
awk -v a="$a" -v p="$p" 'BEGIN { printf "ratio: %.2f\n", p / a }'
awk -v b="$bytes" -v n="$lines" 'BEGIN { printf "page: %d bytes, %.1f bytes a line\n", b, b / n }'
KEP_PAGE_MODULES="$build/itk/host/kep_host/page/node_modules" node "$here/page_first_frame.mjs" "$work/page.html"
