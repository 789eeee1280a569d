#!/usr/bin/env bash
# Memory of URL streams, Release build, figures only: how much a stream adds to the process's peak
# RSS (target: at most 30 MB, whatever the stream's size), while the local server sends as fast as
# the player takes it:
#   1. a 1 GB WAV (1.7 hours) played at real time for SECONDS to SDL's dummy device;
#   2. an endless MP3 announced as 20 GB, played the same way;
#   3. the 1 GB WAV read whole through a decoding channel, as fast as it decodes.
# Needs about 1.3 GB of free disk in the temporary folder (the file, and the stream's spool).
# Usage: scripts/bench/stream_memory.sh [seconds]   (Release tree: $ORVANE_BENCH_BUILD, default build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
seconds=${1:-20}
ORVANE_BUILD_TARGETS="stream_bench orvane_decode" "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
export ORVANE_MODULE_DIR="$dir/bin"
data=$(mktemp -d)
server=""
cleanup() {
  [[ -n "$server" ]] && kill "$server" 2>/dev/null || true
  rm -rf "$data"
}
trap cleanup EXIT

ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=6080" -ac 2 \
  -c:a pcm_s16le "$data/big.wav"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:duration=1" -c:a libmp3lame \
  -id3v2_version 0 -write_xing 0 "$data/unit.mp3"
python3 - "$data" <<'PY'
import json, sys
data = sys.argv[1]
unit = open(data + "/unit.mp3", "rb").read().hex()
json.dump({"/endless.mp3": {"pattern_size": 20 << 30, "body_hex": unit, "content_type": "audio/mpeg"}},
          open(data + "/routes.json", "w"))
PY
python3 "$root/tests/support/fixture_server.py" --root "$data" --routes "$data/routes.json" \
  --port-file "$data/port" 2>/dev/null &
server=$!
for _ in $(seq 100); do [[ -f "$data/port" ]] && break; sleep 0.1; done
port=$(cat "$data/port")
export STREAM_BENCH_WARMUP="$data/unit.mp3"

echo "== 1 GB WAV ($(du -m "$data/big.wav" | cut -f1) MB), played for $seconds s =="
SDL_AUDIODRIVER=dummy "$dir/tests/stream_bench" play "http://127.0.0.1:$port/big.wav" "$seconds"
echo "== endless MP3 announced as 20 GB, played for $seconds s =="
SDL_AUDIODRIVER=dummy "$dir/tests/stream_bench" play "http://127.0.0.1:$port/endless.mp3" "$seconds"
echo "== 1 GB WAV read whole through a decoding channel =="
"$dir/tests/stream_bench" read "http://127.0.0.1:$port/big.wav"
