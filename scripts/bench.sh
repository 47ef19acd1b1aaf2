#!/usr/bin/env bash
# The benchmarks of a Release build configured with KEP_BUILD_BENCH=ON (`make bench` builds one and
# runs this on it):
# - scale_bench, the two search services over generated sites of 1,000 to 1,000,000 lines; its
#   tables replace the part of docs/performance.md between the scale benchmark's markers, headed by
#   the machine, the compiler and the load average before and after the run;
# - overlap_bench, printed only (its figures are discussed in docs/performance.md by hand).
#
# Usage: scripts/bench.sh BUILD_DIR
# Environment: KEP_BENCH_SIZES (default 1000,10000,100000,1000000); KEP_BENCH_OVERLAP=0 skips the
# overlap benchmark. Every search is measured on both paths (the call memo on and the literal path
# forced). The whole run takes some 20 minutes on two cores and up to 3 GB of memory.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
doc="$root/docs/performance.md"
scale="$build/bin/scale_bench"
overlap="$build/bin/overlap_bench"
sizes=${KEP_BENCH_SIZES:-1000,10000,100000,1000000}
begin_marker='<!-- scale-bench:begin -->'
end_marker='<!-- scale-bench:end -->'

if [ ! -x "$scale" ]; then
  echo "$0: $scale is missing: configure $1 with -DKEP_BUILD_BENCH=ON and build it" >&2
  exit 2
fi

loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
cpuinfo() { grep -m1 "^$1" /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'; }
machine="$(cpuinfo 'model name') (family $(cpuinfo 'cpu family'), model $(cpuinfo 'model\s*:')), \
$(nproc) processors at $(cpuinfo 'cpu MHz' | cut -d. -f1) MHz, \
$(awk '/MemTotal/ { printf "%.0f", $2 / 1048576 }' /proc/meminfo) GB"
system=$(. /etc/os-release && echo "$PRETTY_NAME")
toolchain="$("${compiler:-c++}" --version | head -1), $build_type build"

load_before=$(loadavg)
echo "scale_bench over $sizes lines (load average $load_before)" >&2
report=$(mktemp)
trap 'rm -f "$report" "$report.doc"' EXIT
"$scale" --sizes "$sizes" --records "$build/scale_bench.json" >"$report"
load_after=$(loadavg)

{
  echo "$begin_marker"
  echo
  echo "Run of $(date -u +%Y-%m-%d) (\`make bench\`, records in \`${build#"$root"/}/scale_bench.json\`)."
  echo "Machine: $machine; $system; $toolchain."
  echo "Load average (1, 5, 15 minutes) before the run: $load_before; after it: $load_after."
  echo
  cat "$report"
  echo
  echo "$end_marker"
} >"$report.doc"

if grep -qF "$begin_marker" "$doc" && grep -qF "$end_marker" "$doc"; then
  awk -v begin="$begin_marker" -v end="$end_marker" -v section="$report.doc" '
    $0 == begin { while ((getline line < section) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0; next }
    !skipping { print }
  ' "$doc" >"$doc.new"
  mv "$doc.new" "$doc"
else
  { echo; echo "## Scale benchmark"; echo; cat "$report.doc"; } >>"$doc"
fi
echo "scale_bench: written to $doc" >&2

if [ "${KEP_BENCH_OVERLAP:-1}" != 0 ] && [ -x "$overlap" ]; then
  echo "overlap_bench (figures printed only; see docs/performance.md)" >&2
  "$overlap" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
