#!/usr/bin/env bash
# Adding many songs at once: a folder of short mp3 files (1 s, tagged) dropped onto the music list
# of the player's window with its scene, under a virtual display:
#   - total time until the last row is in and the list is saved       target <= 2 s for 1,000 files
#   - how late the window answers meanwhile (a 10 ms timer's lateness)  target <= 100 ms throughout
# Builds only the benchmark, in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD,
# default build-bench). Usage: scripts/bench/add_music.sh [files, default 1000] [runs, default 3]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
files=${1:-1000}
runs=${2:-3}
ORVANE_BUILD_TARGETS=add_music_bench "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
export ORVANE_MODULE_DIR="$dir/bin" SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/songs"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=1" \
  -ac 2 -c:a libmp3lame -b:a 128k -metadata title="短歌" -metadata artist="歌手" "$work/one.mp3"
for i in $(seq -w 1 "$files"); do cp "$work/one.mp3" "$work/songs/song $i.mp3"; done

for _ in $(seq "$runs"); do
  rm -rf "$work/home" && mkdir -p "$work/home"/{home,config,data,cache,runtime}
  chmod 700 "$work/home/runtime"
  HOME="$work/home/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
  XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$dir/bench/add_music_bench" "$work/songs" 2>/dev/null
done
