#!/usr/bin/env bash
# The random tab's sources:
#   - 20 random songs from a Music folder of 20,000 songs (200 folders of 100), as the fetch's
#     worker picks them: walk, decoder check, tags                       target <= 1 s
#   - the longest turn of the window's main thread while it fetches from the Music folder and from a
#     music server (a local stand-in), plays a server song until its play is counted, and tests a
#     connection in the dialog                                            target <= 16 ms
# Builds only the benchmark, in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD,
# default build-bench). Usage: scripts/bench/random_songs.sh [files, default 20000]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
files=${1:-20000}
ORVANE_BUILD_TARGETS=random_songs_bench "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
export ORVANE_MODULE_DIR="$dir/bin" SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=offscreen

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
server_pid=
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/home/{home/Music,config,data,cache,runtime}
chmod 700 "$work/home/runtime"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" \
  -ac 2 -c:a libmp3lame -b:a 128k -metadata title="随便听听" -metadata artist="歌手" "$work/one.mp3"
# Links to one song: the walk and the decoder see 20,000 songs without 20,000 copies.
per=100
for ((f = 0; f * per < files; f++)); do
  mkdir -p "$work/home/home/Music/folder $f"
  for ((i = 0; i < per && f * per + i < files; i++)); do ln "$work/one.mp3" "$work/home/home/Music/folder $f/song $i.mp3"; done
done

# A music server stand-in: the fixture server with the API's answers and the song as every stream.
songs=""
for i in $(seq 1 20); do songs+="<song id=\\\"s$i\\\" title=\\\"歌 $i\\\" artist=\\\"歌手\\\" duration=\\\"2\\\"/>"; done
ok='<subsonic-response status=\"ok\" version=\"1.16.1\"'
cat > "$work/routes.json" <<JSON
{"/rest/ping.view": {"body": "$ok/>", "content_type": "text/xml"},
 "/rest/getRandomSongs.view": {"body": "$ok><randomSongs>$songs</randomSongs></subsonic-response>", "content_type": "text/xml"},
 "/rest/scrobble.view": {"body": "$ok/>", "content_type": "text/xml"},
 "/rest/stream.view": {"file": "$work/one.mp3", "content_type": "audio/mpeg"}}
JSON
python3 "$root/tests/support/fixture_server.py" --port 0 --port-file "$work/port" \
  --routes "$work/routes.json" &
server_pid=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done

HOME="$work/home/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime" \
  "$dir/bench/random_songs_bench" "http://127.0.0.1:$(cat "$work/port")" 2>${ORVANE_BENCH_STDERR:-/dev/null}
