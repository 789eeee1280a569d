#!/usr/bin/env bash
# One player per login, measured from outside, under a virtual display (Xvfb), SDL's dummy sound
# device and a private session bus (so the desktop's media controls are in place):
#   1. a later start with a file ("orvane FILE": add and play; "orvane /l FILE": add), from its
#      launch until it ends, which it does once the running player has handled the command
#                                                                       target median <= 50 ms
#   2. "orvanectl count", launch to answer                              target median <= 10 ms
#   3. CPU of the idle player (nothing playing) over a while            target 0.00 %
# Uses the Release tree build-bench (or $ORVANE_BENCH_BUILD). Prints figures only.
# Usage: scripts/bench/instance.sh [runs, default 30] [idle seconds, default 30]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
runs=${1:-30}
idle=${2:-30}
ORVANE_BUILD_TARGETS="orvane orvanectl" "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release > /dev/null
bin="$dir/bin"

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 500))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
mkdir -p "$work"/{home,config,data,cache,runtime,songs}
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/runtime" DISPLAY=$display SDL_AUDIODRIVER=dummy ORVANE_MODULE_DIR="$bin"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
coproc BUS { exec dbus-daemon --session --nofork --print-address=1 2> /dev/null; }
pids+=($BUS_PID)
read -r address <&"${BUS[0]}"
export DBUS_SESSION_BUS_ADDRESS=$address
sleep 1

song="$work/songs/tone.mp3"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=600" -b:a 128k "$song"

"$bin/orvane" > /dev/null 2>&1 &
player=$!
pids+=($player)
for _ in $(seq 200); do "$bin/orvanectl" count > /dev/null 2>&1 && break; sleep 0.1; done

python3 - "$bin" "$song" "$runs" <<'PY'
import statistics, subprocess, sys, time
bin, song, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])

def timed(args):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - t0) * 1000)
    times.sort()
    return f"median {statistics.median(times):.1f} ms (min {times[0]:.1f}, max {times[-1]:.1f}, {runs} runs)"

timed([bin + "/orvanectl", "count"])  # warm the caches once
print("later start 'orvane FILE' to handled:    ", timed([bin + "/orvane", song]))
print("later start 'orvane /l FILE' to handled: ", timed([bin + "/orvane", "/l", song]))
print("orvanectl count round trip:              ", timed([bin + "/orvanectl", "count"]))
PY

# Idle: stop what the benchmark started playing, let it settle, then count the CPU ticks.
"$bin/orvanectl" play-pause > /dev/null
# A method call (dbus-send sends a signal unless told otherwise).
dbus-send --session --type=method_call --print-reply --dest=org.mpris.MediaPlayer2.orvane /org/mpris/MediaPlayer2 \
  org.mpris.MediaPlayer2.Player.Stop > /dev/null
sleep 3
python3 - "$player" "$idle" <<'PY'
import os, sys, time
pid, seconds = sys.argv[1], int(sys.argv[2])
def ticks():
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime of every thread
hz = os.sysconf("SC_CLK_TCK")
t0, c0 = time.monotonic(), ticks()
time.sleep(seconds)
t1, c1 = time.monotonic(), ticks()
print(f"idle player CPU over {seconds} s: {100 * (c1 - c0) / hz / (t1 - t0):.2f} % of one core "
      f"({c1 - c0} ticks of 1/{hz} s)")
PY
