#!/usr/bin/env bash
# Load and save times of the two stores: a 10,000-song playlist (Chinese, accented and emoji texts)
# and a full configuration. Targets: load <= 100 ms and save <= 150 ms each.
# Builds a Release tree of its own (build-bench, or $ORVANE_BENCH_BUILD) and writes its files there,
# on the same disk as a real data folder, since every save is flushed to disk.
# Usage: scripts/bench/stores.sh [Google Benchmark options, e.g. --benchmark_repetitions=5]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
ORVANE_BUILD_TARGETS=orvane_store "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
if ! cmake --build "$dir" --target help | grep -q '^store_bench'; then
  echo "store_bench is not configured: Google Benchmark (libbenchmark-dev) was not found" >&2
  exit 1
fi
cmake --build "$dir" --target store_bench > /dev/null
data=$(mktemp -d "$dir/bench-data.XXXXXX")
trap 'rm -rf "$data"' EXIT
ORVANE_BENCH_DIR=$data "$dir/bench/store_bench" "$@"
