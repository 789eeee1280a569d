#!/usr/bin/env bash
# Orvane side by side with three well-known Linux players from Debian, on one machine in one run:
#   qmmp       a Qt GUI player (null output plug-in)
#   Audacious  a GTK GUI player: idle with its window shown; playing headless (-H) through its SDL
#              output on SDL's dummy device, as Orvane plays
#   mpv        a command-line player (--ao=null --vo=null)
# and Orvane on SDL's dummy device with an equaliser preset on and desktop lyrics changing every
# 1.5 s. Test files: 60 s of 44.1 kHz stereo music-like sound as mp3 (320 kbit/s), flac and ogg.
# Everything runs under one Xvfb. Figures are medians of RUNS runs:
#   - CPU while playing: the player process, in % of one core, over WINDOW seconds after 5 s;
#   - CPU at rest: window shown, nothing playing (GUI players);
#   - peak RSS while playing the mp3 (VmHWM), and Orvane's with a 10,000-song list as well;
#   - start to first frame: launch until the player's window is visible (GUI players).
# Prints one table with the ratios Orvane/peer, and Orvane's threads (CPU and wake-ups a second).
# A benchmark: it installs what is missing, prints, and always exits 0; it is not part of the tests.
# Usage: scripts/bench/peers.sh [WINDOW seconds, default 20] [RUNS, default 3]
#        (Release tree: $ORVANE_BENCH_BUILD, default build-bench; ORVANE_PEERS="orvane mpv" measures
#        only those players, e.g. ORVANE_PEERS=orvane for Orvane's row alone)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
window=${1:-20}
runs=${2:-3}
settle=5
threads_py="$root/scripts/bench/threads.py"

note() { echo "peers.sh: $*" >&2; }

# ---- what is needed ---------------------------------------------------------------------------
install_peers() {
  local missing=()
  command -v qmmp > /dev/null || missing+=(qmmp)
  command -v audacious > /dev/null || missing+=(audacious audacious-plugins)
  command -v mpv > /dev/null || missing+=(mpv)
  command -v xdotool > /dev/null || missing+=(xdotool)
  [[ ${#missing[@]} -eq 0 ]] && return
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  note "installing ${missing[*]}"
  for _ in 1 2 3 4 5; do  # another apt may hold the dpkg lock for a while
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" \
      > /dev/null 2>&1 && return
    sleep 20
  done
  note "could not install ${missing[*]}; those columns stay empty"
}
[[ ${ORVANE_PEERS:-x} != orvane ]] && install_peers
if ! ORVANE_BUILD_TARGETS=orvane "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF \
  > /dev/null; then
  note "the Release build failed"
  exit 0
fi
orvane="$dir/bin/orvane"

work=$(mktemp -d /tmp/orvane-peers-XXXXXX)
xvfb_pid=""
player_pid=""
cleanup() {
  [[ -n "$player_pid" ]] && kill -9 "$player_pid" 2> /dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# ---- test files -------------------------------------------------------------------------------
media="$work/media"
mkdir -p "$media"
ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
  -f lavfi -i "anoisesrc=d=60:c=pink:r=44100:a=0.3" \
  -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -c:a pcm_s16le "$media/song.wav"
ffmpeg -nostdin -loglevel error -y -i "$media/song.wav" -c:a libmp3lame -b:a 320k "$media/song.mp3"
ffmpeg -nostdin -loglevel error -y -i "$media/song.wav" -c:a flac "$media/song.flac"
ffmpeg -nostdin -loglevel error -y -i "$media/song.wav" -c:a libvorbis -q:a 5 "$media/song.ogg"
rm -f "$media/song.wav"
# Orvane finds the lyric beside the song: a new line every 1.5 s.
python3 - "$media/song.lrc" << 'PY'
import sys
with open(sys.argv[1], "w", encoding="utf-8") as f:
    for i in range(40):
        f.write(f"[{i * 3 // 2 // 60:02d}:{i * 1.5 % 60:05.2f}]第{i + 1}行歌词 line {i + 1}\r\n")
PY
python3 - "$work/big.pls" << 'PY'
import sys
names = ["晴天", "Moon River", "夜空中最亮的星", "Clair de Lune", "后来", "Café del Mar"]
with open(sys.argv[1], "w", encoding="gb18030") as f:
    f.write('<?xml version="1.0" encoding="GB2312"?>\n<DefaultList>\n  <PlayerList>\n')
    for i in range(10000):
        t = f"{names[i % len(names)]} {i}"
        f.write(f'    <LIST Path="/music/album{i // 12}/track{i}.mp3" Title="{t}" Artist="歌手{i % 97}" Url="0" Ltime="0"/>\n')
    f.write('  </PlayerList>\n</DefaultList>\n')
PY

# ---- one display for everything ---------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$work/display" > /dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY PULSE_SERVER

# A fresh home for each start, with the player's own settings: Orvane with preset 2 and desktop
# lyrics shown, qmmp on its null output, Audacious on its SDL output.
fresh_home() {
  local player=$1 big=${2:-}
  local home="$work/home"
  rm -rf "$home"
  mkdir -p "$home"/{home,config,data,cache,runtime}
  chmod 700 "$home/runtime"
  export HOME="$home/home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
  export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$home/runtime"  # caches kept: warm starts
  case $player in
    orvane)
      mkdir -p "$HOME/Documents/Orvane"
      printf '%s\n' '<?xml version="1.0" encoding="GB2312"?>' \
        '<MainConfig><Window><EQ ID="2"/><DESKTOPLRC SHOW="1"/></Window></MainConfig>' \
        > "$HOME/Documents/Orvane/Orvane.xml"
      [[ -n "$big" ]] && cp "$work/big.pls" "$HOME/Documents/Orvane/Default.pls"
      ;;
    qmmp)
      mkdir -p "$HOME/.qmmp"
      printf '[Output]\ncurrent_plugin=null\n' > "$HOME/.qmmp/qmmprc"
      ;;
    audacious)
      [[ -d "$work/audacious-config" ]] && cp -r "$work/audacious-config" "$XDG_CONFIG_HOME/audacious"
      ;;
  esac
}

command_for() {  # player, file (empty: nothing plays)
  local player=$1 file=$2
  case $player in
    orvane) echo "$orvane $file" ;;
    qmmp) echo "qmmp $file" ;;
    audacious) if [[ -n "$file" ]]; then echo "audacious -H -p $file"; else echo "audacious"; fi ;;
    mpv) echo "mpv --no-config --ao=null --vo=null --no-terminal $file" ;;
  esac
}

stop_player() {
  [[ -z "$player_pid" ]] && return
  kill "$player_pid" 2> /dev/null
  for _ in $(seq 30); do kill -0 "$player_pid" 2> /dev/null || break; sleep 0.1; done
  kill -9 "$player_pid" 2> /dev/null
  wait "$player_pid" 2> /dev/null
  player_pid=""
}

# Audacious keeps its output choice in its plug-in registry, which it writes on its first run.
prepare_audacious() {
  command -v audacious > /dev/null || return
  fresh_home audacious
  audacious -H > /dev/null 2>&1 &
  player_pid=$!
  sleep 3
  stop_player
  local registry="$XDG_CONFIG_HOME/audacious/plugin-registry"
  [[ -f "$registry" ]] || return
  awk '/^output /{out=$2} /^enabled /{ if (out != "") { print "enabled " (out ~ /sdlout.so$/ ? 1 : 0); out = ""; next } } {print}' \
    "$registry" > "$registry.new" && mv "$registry.new" "$registry"
  rm -rf "$work/audacious-config"
  cp -r "$XDG_CONFIG_HOME/audacious" "$work/audacious-config"
}

# One start: settle, then per-thread figures over the window as JSON (one line), or nothing.
measure() {  # player, file, [big]
  local player=$1 file=$2 big=${3:-}
  fresh_home "$player" "$big"
  # shellcheck disable=SC2046
  $(command_for "$player" "$file") > "$work/player.log" 2>&1 &
  player_pid=$!
  sleep "$settle"
  if kill -0 "$player_pid" 2> /dev/null; then
    python3 "$threads_py" --json "$window" "$player_pid" "$xvfb_pid" | tr '\n' ' '
    echo
  fi
  stop_player
}

# Launch until a window of the process is visible, in ms; nothing when none appears in 20 s.
first_frame() {  # player
  local player=$1 t0 t1
  fresh_home "$player"
  t0=$(date +%s%N)
  # shellcheck disable=SC2046
  $(command_for "$player" "") > "$work/player.log" 2>&1 &
  player_pid=$!
  if timeout 20 xdotool search --sync --onlyvisible --pid "$player_pid" > /dev/null 2>&1; then
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000000))
  fi
  stop_player
}

have() { [[ $1 == orvane ]] || command -v "$1" > /dev/null; }

read -r -a players <<< "${ORVANE_PEERS:-orvane qmmp audacious mpv}"
results="$work/results"
: > "$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
[[ " ${players[*]} " == *" audacious "* ]] && prepare_audacious
for player in "${players[@]}"; do
  have "$player" || continue
  note "$player"
  measure "$player" "$media/song.mp3" > /dev/null  # warm caches (fonts, QML, plug-in lists)
  for format in mp3 flac ogg; do
    for _ in $(seq "$runs"); do echo "$player play-$format $(measure "$player" "$media/song.$format")" >> "$results"; done
  done
  if [[ $player != mpv ]]; then
    for _ in $(seq "$runs"); do echo "$player rest $(measure "$player" "")" >> "$results"; done
    first_frame "$player" > /dev/null
    for _ in $(seq "$runs"); do echo "$player frame $(first_frame "$player")" >> "$results"; done
  fi
done
for _ in $(seq "$runs"); do echo "orvane play-mp3-10k $(measure orvane "$media/song.mp3" big)" >> "$results"; done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

versions="orvane=$("$orvane" --version 2> /dev/null | awk '{print $2}')"
have qmmp && versions+=" qmmp=$(dpkg-query -W -f='${Version}' qmmp 2> /dev/null)"
have audacious && versions+=" audacious=$(dpkg-query -W -f='${Version}' audacious 2> /dev/null)"
have mpv && versions+=" mpv=$(dpkg-query -W -f='${Version}' mpv 2> /dev/null)"

python3 - "$results" "$window" "$runs" "$load_before" "$load_after" "$versions" << 'PY'
import json, statistics, sys
path, window, runs, load_before, load_after, versions = sys.argv[1:]
data = {}
for line in open(path, encoding="utf-8"):
    parts = line.rstrip("\n").split(" ", 2)
    if len(parts) < 3 or not parts[2].strip():
        continue
    player, what, rest = parts
    if what == "frame":
        data.setdefault((player, what), []).append({"ms": float(rest)})
        continue
    reports = []
    decoder = json.JSONDecoder()
    text, pos = rest.strip(), 0
    while pos < len(text):
        obj, end = decoder.raw_decode(text, pos)
        reports.append(obj)
        pos = end
        while pos < len(text) and text[pos] == " ":
            pos += 1
    if len(reports) >= 2:
        data.setdefault((player, what), []).append({"player": reports[0], "x": reports[1]})

def med(player, what, key):
    rows = data.get((player, what), [])
    if not rows:
        return None
    if key == "ms":
        return statistics.median(r["ms"] for r in rows)
    if key == "rss":
        return statistics.median(r["player"]["peak_rss_kb"] for r in rows) / 1024
    if key == "resident":
        return statistics.median(r["player"]["rss_kb"] for r in rows) / 1024
    if key == "x":
        return statistics.median(r["x"]["cpu_percent"] for r in rows)
    return statistics.median(r["player"][key] for r in rows)

names = {"orvane": "Orvane (EQ preset, desktop lyrics)", "qmmp": "qmmp (Qt GUI)",
         "audacious": "Audacious (GTK GUI; plays headless)", "mpv": "mpv (command line)"}
cols = [("CPU mp3", "play-mp3", "cpu_percent", "{:.2f} %"), ("CPU flac", "play-flac", "cpu_percent", "{:.2f} %"),
        ("CPU ogg", "play-ogg", "cpu_percent", "{:.2f} %"), ("CPU at rest", "rest", "cpu_percent", "{:.2f} %"),
        ("peak RSS mp3", "play-mp3", "rss", "{:.1f} MB"), ("first frame", "frame", "ms", "{:.0f} ms"),
        ("wake-ups mp3", "play-mp3", "wakeups_per_s", "{:.1f}/s"), ("wake-ups rest", "rest", "wakeups_per_s", "{:.1f}/s")]
def cell(v, fmt):
    return "–" if v is None else fmt.format(v)
print(f"Side by side: 60 s 44.1 kHz stereo files, dummy/null outputs, one Xvfb, median of {runs} runs,")
print(f"CPU over {window} s windows after 5 s. Load average before {load_before}, after {load_after}.")
print(f"Versions: {versions}")
print()
width = 38
print("".ljust(width) + "".join(c[0].rjust(14) for c in cols))
for p in ["orvane", "qmmp", "audacious", "mpv"]:
    if not any(k[0] == p for k in data):
        continue
    print(names[p].ljust(width) + "".join(cell(med(p, w, k), f).rjust(14) for _, w, k, f in cols))
print()
print("Orvane / peer (below 1: Orvane uses less)")
for p in ["qmmp", "audacious", "mpv"]:
    if not any(k[0] == p for k in data):
        continue
    row = []
    for _, w, k, f in cols:
        a, b = med("orvane", w, k), med(p, w, k)
        row.append("–" if a is None or not b else f"{a / b:.2f}")
    print(("  / " + p).ljust(width) + "".join(v.rjust(14) for v in row))
print()
print("Orvane playing the mp3 with a 10,000-song list (the song given on the command line is added to")
print(f"the list, which is saved): peak RSS {cell(med('orvane', 'play-mp3-10k', 'rss'), '{:.1f} MB')}, "
      f"resident while playing {cell(med('orvane', 'play-mp3-10k', 'resident'), '{:.1f} MB')}")
xs = {p: med(p, "play-mp3", "x") for p in ["orvane", "qmmp", "audacious", "mpv"]}
print("X server CPU while each plays the mp3: " +
      ", ".join(f"{p} {v:.2f} %" for p, v in xs.items() if v is not None))
print()
for what, title in (("play-mp3", "playing the mp3"), ("rest", "at rest")):
    rows = data.get(("orvane", what), [])
    if not rows:
        continue
    run = sorted(rows, key=lambda r: r["player"]["cpu_percent"])[len(rows) // 2]["player"]
    print(f"Orvane's threads {title} (median run): {run['cpu_percent']:.2f} % CPU, "
          f"{run['wakeups_per_s']:.1f} wake-ups/s")
    for t in run["threads"]:
        if t["cpu_percent"] > 0 or t["wakeups_per_s"] > 0:
            print(f"  {t['name']:<18} CPU {t['cpu_percent']:5.2f} %  wake-ups {t['wakeups_per_s']:6.1f}/s")
PY
exit 0
