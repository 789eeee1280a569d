#!/usr/bin/env bash
# Lyric document speed: parse + sort of a 10,000-line lyric (target ≤ 5 ms) and the current-line
# lookup. Builds only the benchmark, in its own Release folder. Usage: scripts/bench/lrc.sh [dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${1:-$root/build-bench-lrc}
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
fi
cmake --build "$dir" --target lrc_bench
"$dir/bin/lrc_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
