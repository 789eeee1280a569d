#!/usr/bin/env bash
# The audio library (src/audio/bass) on its own, Release build, figures only:
#   1. decode + ten-band equaliser of a 60 s 320 kbit/s mp3 through a decoding channel, in x real
#      time on one thread (target >= 700x), flat bands and a preset; FFmpeg's own command-line
#      decoder on the same file for comparison;
#   2. CPU used while that file plays for SECONDS to SDL's dummy device, in % of one core
#      (target <= 0.4 %).
# Usage: scripts/bench/audio_decode.sh [seconds]   (Release tree: $ORVANE_BENCH_BUILD, default build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
seconds=${1:-60}
ORVANE_BUILD_TARGETS=bass_bench "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
# The decoder module is loaded from beside the player, which the benchmark program is not.
export ORVANE_MODULE_DIR="$dir/bin"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
# Music-like content: a tone over pink noise, stereo.
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -f lavfi -i "anoisesrc=d=60:c=pink:r=44100:a=0.3" \
  -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -c:a libmp3lame -b:a 320k "$data/song.mp3"

echo "== decode + EQ, one thread (best of 5) =="
for mode in flat eq; do
  for _ in 1 2 3 4 5; do "$dir/tests/bass_bench" decode "$data/song.mp3" "$mode"; done | sort -t= -k2 -n | tail -1
done
echo "== ffmpeg command-line decoder, same file (best of 5) =="
for _ in 1 2 3 4 5; do
  ffmpeg -nostdin -hide_banner -benchmark -threads 1 -i "$data/song.mp3" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s'
done | sort -t= -k2 -n | head -1 | awk -F'[=s]' '{ printf "ffmpeg: %.1f ms = %.0fx real time\n", $2 * 1000, 60 / $2 }'

echo "== playing for $seconds s to the dummy device =="
SDL_AUDIODRIVER=dummy "$dir/tests/bass_bench" play "$data/song.mp3" "$seconds"
