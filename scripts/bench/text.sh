#!/usr/bin/env bash
# Throughput of the legacy-text converter: per-character GBK decoding (target >= 100 MB/s),
# FromLegacy, the GB2312 encoder of the stores, and the system's iconv for comparison.
# Builds in the shared Release benchmark tree (build-bench, or $ORVANE_BENCH_BUILD).
# Usage: scripts/bench/text.sh [Google Benchmark options, e.g. --benchmark_repetitions=5]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
ORVANE_BUILD_TARGETS=orvane_text "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
if ! cmake --build "$dir" --target help | grep -q '^text_bench'; then
  echo "text_bench is not configured: Google Benchmark (libbenchmark-dev) was not found" >&2
  exit 1
fi
cmake --build "$dir" --target text_bench > /dev/null
"$dir/bench/text_bench" "$@"
