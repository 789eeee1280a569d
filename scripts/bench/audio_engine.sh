#!/usr/bin/env bash
# The audio engine on SDL's dummy device, through TAudioEngine:
#   - time from Open of a local file to the first sample handed to the device (target <= 30 ms);
#   - CPU used while a 60 s 320 kbit/s mp3 plays for 60 s (target <= 0.4 % of one core).
# Builds only the benchmark, in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD, default
# build-bench). Usage: scripts/bench/audio_engine.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
seconds=${1:-60}
ORVANE_BUILD_TARGETS=engine_bench "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
# The decoder module is loaded from beside the player, which the benchmark program is not.
export ORVANE_MODULE_DIR="$dir/bin"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -ac 2 -c:a libmp3lame -b:a 320k "$data/song.mp3"
export SDL_AUDIODRIVER=dummy
"$dir/bench/engine_bench" latency "$data/song.mp3" 30
"$dir/bench/engine_bench" cpu "$data/song.mp3" "$seconds"
