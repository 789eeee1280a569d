#!/usr/bin/env bash
# The player as a user meets it, under a virtual display (Xvfb) and SDL's dummy sound device:
#   1. start to first frame of the main window, empty lists            target <= 400 ms
#   2. start to first frame with a 10,000-song music list              target <= 600 ms, peak RSS <= 80 MB
#   3. CPU of the player while a 320 kbit/s mp3 plays with an equaliser preset on and the desktop
#      lyrics showing a line every 1.5 s, over 30 s          target <= 0.6 % of one core, <= 80 MB
#   4. peak RSS while that song plays as the first row of a 10,000-song list   target <= 85 MB
# scripts/bench/peers.sh measures the same side by side with other players, at rest too.
# Builds a Release tree of its own (build-bench, or $ORVANE_BENCH_BUILD). Prints figures only.
# Usage: scripts/bench/player.sh [runs per start-up figure, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
runs=${1:-10}
ORVANE_BUILD_TARGETS="orvane orvanectl orvane_demo" "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release > /dev/null
player="$dir/bin/orvane"

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
xvfb_pid=""
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# One virtual display for all runs, so its start-up is not counted.
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

# Prints "<ms to first frame> <peak RSS kB>" for one start.
first_frame() {
  local t0 out frame hwm
  t0=$(date +%s%N)
  out=$(ORVANE_BENCH_FIRST_FRAME=1 "$player" 2>/dev/null)
  frame=$(sed -n 's/.*first-frame-ns=\([0-9]*\).*/\1/p' <<<"$out")
  hwm=$(sed -n 's/.*vmhwm-kb=\([0-9]*\).*/\1/p' <<<"$out")
  echo "$(( (frame - t0) / 1000000 )) $hwm"
}

# Median and maximum of the first and second columns of "runs" start-ups.
measure_starts() {
  local label=$1 results
  first_frame > /dev/null  # warm the caches once (QML cache, fonts)
  results=$(for _ in $(seq "$runs"); do first_frame; done)
  python3 - "$label" <<PY
import statistics, sys
rows = [tuple(map(int, line.split())) for line in """$results""".strip().splitlines()]
ms = sorted(r[0] for r in rows); rss = [r[1] for r in rows]
print(f"{sys.argv[1]}: start to first frame median {statistics.median(ms):.0f} ms "
      f"(min {ms[0]}, max {ms[-1]}, {len(ms)} runs); peak RSS max {max(rss)/1024:.1f} MB")
PY
}

fresh_home
measure_starts "empty lists"

# The 10,000-song list; with a song given, every row is that song.
write_big_list() {
  python3 - "$HOME/Documents/Orvane/Default.pls" "${1:-}" <<'PY'
import sys
names = ["晴天", "Moon River", "夜空中最亮的星", "Clair de Lune", "后来", "Café del Mar"]
with open(sys.argv[1], "w", encoding="gb18030") as f:
    f.write('<?xml version="1.0" encoding="GB2312"?>\n<DefaultList>\n  <PlayerList>\n')
    for i in range(10000):
        t = f"{names[i % len(names)]} {i}"
        path = sys.argv[2] or f"/music/album{i // 12}/track{i}.mp3"
        f.write(f'    <LIST Path="{path}" Title="{t}" Artist="歌手{i % 97}" Url="0" Ltime="0"/>\n')
    f.write('  </PlayerList>\n</DefaultList>\n')
PY
}
write_big_list
measure_starts "10,000-song list"

# Playing: a 60 s 320 kbit/s mp3 with a lyric line every 1.5 s, preset 2 on, desktop lyrics shown.
fresh_home
song="$work/song.mp3"
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=60" -f lavfi -i "sine=frequency=660:duration=60" \
  -filter_complex amerge=inputs=2 -c:a libmp3lame -b:a 320k "$song"
python3 - "$work/song.lrc" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8") as f:
    for i in range(40):
        f.write(f"[{i * 3 // 2 // 60:02d}:{i * 1.5 % 60:05.2f}]第{i + 1}行歌词 line {i + 1}\r\n")
PY
cat > "$HOME/Documents/Orvane/Orvane.xml" <<'XML'
<?xml version="1.0" encoding="GB2312"?>
<MainConfig><Window><EQ ID="2"/><DESKTOPLRC SHOW="1"/></Window></MainConfig>
XML
"$player" "$song" > /dev/null 2>&1 &
pid=$!
sleep 5
# Per-thread CPU in nanoseconds (threads.py): clock ticks are too coarse for these fractions.
report=$(python3 "$root/scripts/bench/threads.py" --json 30 "$pid" "$xvfb_pid")
kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
python3 - "$report" <<'PY'
import json, sys
player, xvfb = (json.loads(line) for line in sys.argv[1].splitlines())
threads = ", ".join(f"{t['name']} {t['cpu_percent']:.2f}" for t in player["threads"] if t["cpu_percent"] >= 0.005)
print(f"playing mp3 + EQ + desktop lyrics: player CPU {player['cpu_percent']:.2f} % of one core ({threads}; "
      f"Xvfb {xvfb['cpu_percent']:.2f} %), peak RSS {player['peak_rss_kb'] / 1024:.1f} MB")
PY

# The same song as the first row of a 10,000-song list, started from the list (nothing is added,
# so the list is not saved).
fresh_home
write_big_list "$song"
"$player" > /dev/null 2>&1 &
pid=$!
sleep 4
"$dir/bin/orvanectl" play-pause > /dev/null
sleep 10
rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
echo "playing the first row of a 10,000-song list: peak RSS $(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }') MB"
