#!/usr/bin/env bash
# Lyric document speed: parse + sort of a 10,000-line lyric (target ≤ 5 ms) and the current-line
# lookup. Builds only the benchmark, in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD, default build-bench). Usage: scripts/bench/lrc.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
ORVANE_BUILD_TARGETS=lrc_bench "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
"$dir/bin/lrc_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
