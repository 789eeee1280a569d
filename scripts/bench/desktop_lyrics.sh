#!/usr/bin/env bash
# The desktop lyrics under a virtual display (Xvfb) and SDL's dummy sound device:
#   1. CPU of the player while a 320 kbit/s mp3 plays with the desktop lyrics showing a line every
#      1.5 s, over 30 s: karaoke wipe off (target <= 1 % of one core) and on (target <= 1.5 %)
#   2. opening the lyric search dialog, from the toolbar's click to its first frame (target <= 100 ms)
# Builds in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD, default build-bench).
# Prints figures only. Usage: scripts/bench/desktop_lyrics.sh [seconds measured per run, default 30]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
seconds=${1:-30}
ORVANE_BUILD_TARGETS="orvane search_dialog_bench" "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DORVANE_SANITIZE=OFF > /dev/null
player="$dir/bin/orvane"
dialog_bench=$(find "$dir" -name search_dialog_bench -type f -perm -u+x | head -1)

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
xvfb_pid=""
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 500))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
xvfb_pid=$!
sleep 1
export DISPLAY=$display SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

fresh_home() {
  rm -rf "$work/home" && mkdir -p "$work/home"/{home,config,data,cache,runtime}
  chmod 700 "$work/home/runtime"
  export HOME="$work/home/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
  export XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime"
  mkdir -p "$HOME/Documents/Orvane"
}

song="$work/song.mp3"
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=60" -f lavfi -i "sine=frequency=660:duration=60" \
  -filter_complex amerge=inputs=2 -c:a libmp3lame -b:a 320k "$song"
python3 - "$work/song.lrc" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8") as f:
    for i in range(40):
        f.write(f"[{i * 3 // 2 // 60:02d}:{i * 1.5 % 60:05.2f}]第{i + 1}行歌词 line {i + 1}\r\n")
PY

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# Prints the player's and Xvfb's CPU while the song plays, with the karaoke wipe off (0) or on (1).
play_cpu() {
  local karaoke=$1 label=$2 pid before after xbefore xafter
  fresh_home
  cat > "$HOME/Documents/Orvane/Orvane.xml" <<XML
<?xml version="1.0" encoding="GB2312"?>
<MainConfig><Window><DESKTOPLRC SHOW="1" KARAOKE="$karaoke"/></Window></MainConfig>
XML
  # No lyric provider is asked: the lyric lies beside the song.
  ORVANE_LYRICS_URL=http://127.0.0.1:9 "$player" "$song" > /dev/null 2>&1 &
  pid=$!
  sleep 5
  before=$(ticks "$pid"); xbefore=$(ticks "$xvfb_pid")
  sleep "$seconds"
  after=$(ticks "$pid"); xafter=$(ticks "$xvfb_pid")
  kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
  python3 - "$label" "$before" "$after" "$xbefore" "$xafter" "$hz" "$seconds" <<'PY'
import sys
label = sys.argv[1]
b, a, xb, xa, hz, s = map(int, sys.argv[2:])
print(f"{label}: player CPU {100 * (a - b) / (s * hz):.2f} % of one core (Xvfb {100 * (xa - xb) / (s * hz):.2f} %)")
PY
}

play_cpu 0 "playing mp3 with desktop lyrics, wipe off [target <= 1 %]"
play_cpu 1 "playing mp3 with desktop lyrics, wipe on  [target <= 1.5 %]"

fresh_home
"$dialog_bench"
