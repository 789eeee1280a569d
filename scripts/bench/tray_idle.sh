#!/usr/bin/env bash
# The player at rest with its tray icon in a real tray host (trayer) under a virtual display: the
# processor time it uses while nothing plays and nobody touches it.
#   target: 0.00 % of one core
# Builds the player in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD, default
# build-bench). Usage: scripts/bench/tray_idle.sh [seconds, default 30]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
seconds=${1:-30}
ORVANE_BUILD_TARGETS=orvane "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
command -v trayer >/dev/null || { echo "trayer is not installed (scripts/deps.txt)"; exit 1; }

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{home,config,data,cache,runtime}
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

display=:$((90 + RANDOM % 500))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
sleep 1
export DISPLAY=$display
trayer --edge top --align right --widthtype pixel --width 200 --height 30 > /dev/null 2>&1 &
pids+=($!)
sleep 1
"$dir/bin/orvane" > /dev/null 2>&1 &
player=$!
pids+=($player)
sleep 5  # start-up and the fade-in are not rest

# "<thread name> <user+system ticks>" for every thread of the player.
threads() {
  for task in /proc/"$player"/task/*; do
    printf '%s %s\n' "$(tr ' ' '_' < "$task/comm")" "$(awk '{print $14 + $15}' "$task/stat")"
  done
}
xwininfo -root -tree | grep -q 'trayer' || { echo "the tray did not start"; exit 1; }
start=$(threads)
sleep "$seconds"
end=$(threads)
python3 - "$(getconf CLK_TCK)" "$seconds" "$start" "$end" <<'PY'
import sys
hz, seconds = int(sys.argv[1]), int(sys.argv[2])
def parse(text):
    totals = {}
    for line in text.splitlines():
        name, ticks = line.rsplit(" ", 1)
        totals[name] = totals.get(name, 0) + int(ticks)
    return totals
start, end = parse(sys.argv[3]), parse(sys.argv[4])
used = {name: end[name] - start.get(name, 0) for name in end}
total = sum(used.values())
print(f"player at rest with its tray icon: {total / hz / seconds * 100:.2f} % of one core over {seconds} s")
for name, ticks in sorted(used.items(), key=lambda item: -item[1]):
    if ticks:
        print(f"  thread {name}: {ticks / hz / seconds * 100:.2f} %")
PY
