#!/usr/bin/env bash
# The music list at scale: 1,000, 10,000 and 100,000 songs, under a virtual display (Xvfb), SDL's
# dummy sound device and a private session bus. For each size:
#   - start to first frame (median of the runs) and peak RSS at start, the real player
#       targets at 100,000: first frame <= 1.3 x the 1,000-song figure, peak RSS <= 30 MB above it
#   - add + save: a hand-off add until the list is on disk (the save runs on its own thread)
#   - the longest slice the main thread was busy while a hand-off, a deletion, one MPRIS OpenUri and
#     a burst of 10,000 OpenUri calls are handled and saved, as wall / processor milliseconds
#     (the wall figure also counts other programs on a loaded machine)     target <= 16 ms
#   - RSS before the add and after its save                                target: back where it was
#   - frame times while the list scrolls (median / 99th percentile / worst, wall and processor)
#                                                                          target: every frame < 16 ms
# Builds the player and tests/app/scale_bench.cpp in the shared Release tree of the benchmarks
# ($ORVANE_BENCH_BUILD, default build-bench). Prints figures only.
# Usage: scripts/bench/scale.sh [runs per start-up figure, default 5] [sizes, default "1000 10000 100000"]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
runs=${1:-5}
sizes=${2:-1000 10000 100000}
ORVANE_BUILD_TARGETS="orvane orvane_demo scale_bench" "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DORVANE_SANITIZE=OFF > /dev/null
player="$dir/bin/orvane"

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
export DISPLAY=$display SDL_AUDIODRIVER=dummy ORVANE_MODULE_DIR="$dir/bin"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

song="$work/song.mp3"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:duration=2" -c:a libmp3lame -b:a 128k \
  -metadata title="加的歌" -metadata artist="歌手" "$song"

fresh_home() {
  rm -rf "$work/home" && mkdir -p "$work/home"/{home,config,data,cache,runtime}
  chmod 700 "$work/home/runtime"
  export HOME="$work/home/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
  export XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime"
  mkdir -p "$HOME/Documents/Orvane"
}

# A GB2312-declared list of n songs, as a list written on Chinese Windows looks.
write_list() {
  python3 - "$HOME/Documents/Orvane/Default.pls" "$1" <<'PY'
import sys
names = ["晴天", "Moon River", "夜空中最亮的星", "Clair de Lune", "后来", "Café del Mar"]
with open(sys.argv[1], "w", encoding="gb18030") as f:
    f.write('<?xml version="1.0" encoding="GB2312"?>\n<DefaultList>\n  <PlayerList>\n')
    for i in range(int(sys.argv[2])):
        f.write(f'    <LIST Path="/music/album{i // 12}/track{i}.mp3" Title="{names[i % len(names)]} {i}" '
                f'Artist="歌手{i % 97}" Url="0" Ltime="0"/>\n')
    f.write('  </PlayerList>\n</DefaultList>\n')
PY
}

# "<ms to first frame> <peak RSS kB>" for one start.
first_frame() {
  local t0 out frame hwm
  t0=$(date +%s%N)
  out=$(ORVANE_BENCH_FIRST_FRAME=1 "$player" 2>/dev/null)
  frame=$(sed -n 's/.*first-frame-ns=\([0-9]*\).*/\1/p' <<<"$out")
  hwm=$(sed -n 's/.*vmhwm-kb=\([0-9]*\).*/\1/p' <<<"$out")
  echo "$(( (frame - t0) / 1000000 )) $hwm"
}

results="$work/results"
: > "$results"
for n in $sizes; do
  fresh_home
  write_list "$n"
  first_frame > /dev/null  # warm the caches (QML cache, fonts)
  starts=$(for _ in $(seq "$runs"); do first_frame; done)
  figures=$(dbus-run-session -- "$dir/bench/scale_bench" "$song" 2>/dev/null | tail -1)
  echo "$n|$(tr '\n' ';' <<<"$starts")|$figures" >> "$results"
  echo "measured $n songs" >&2
done

python3 - "$results" <<'PY'
import statistics, sys
rows = []
for line in open(sys.argv[1]):
    n, starts, figures = line.rstrip("\n").split("|")
    s = [tuple(map(int, x.split())) for x in starts.split(";") if x.strip()]
    f = dict(kv.split("=") for kv in figures.split())
    rows.append((int(n), statistics.median(x[0] for x in s), max(x[1] for x in s) / 1024, f))
base = rows[0]
print("| songs | first frame | peak RSS at start | add + save | longest main-thread slice: add / delete / "
      "OpenUri / 10,000 OpenUri (wall/CPU ms) | RSS before add → after save | scroll frames wall, CPU "
      "(median/p99/max ms) |")
print("|---|---|---|---|---|---|---|")
for n, frame, rss, f in rows:
    print(f"| {n:,} | {frame:.0f} ms ({frame / base[1]:.2f}×) | {rss:.1f} MB ({rss - base[2]:+.1f}) | "
          f"{float(f['add_save_ms']):.0f} ms | {f['add_busy_ms']} / {f['delete_busy_ms']} / {f['openuri_busy_ms']} / "
          f"{f['burst10k_busy_ms']} (burst {f['burst10k_ms']} ms, main thread {f['burst10k_main_cpu_ms']} ms CPU) | "
          f"{int(f['rss_before_add_kb']) / 1024:.1f} → {int(f['rss_after_save_kb']) / 1024:.1f} MB | "
          f"{f['scroll_wall_ms']}, {f['scroll_cpu_ms']} |")
PY
