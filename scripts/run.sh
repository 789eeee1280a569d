#!/usr/bin/env bash
# Installs what is missing, builds (Release, incremental) and starts Orvane.
#   scripts/run.sh [arguments for orvane…]
# On a desktop the player simply opens. On a machine without a display it runs under a virtual
# display (Xvfb) with its own temporary home folder, plays the bundled demo song with its lyric,
# writes screenshots of the main window and of the desktop lyrics (once in Chinese, once in
# English), prints their paths and quits. ORVANE_SCREENSHOT_DIR picks their folder (default
# build/screenshots; the README's pictures are ORVANE_SCREENSHOT_DIR=docs/screenshots).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
ORVANE_BUILD_TARGETS="orvane orvane_demo" scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
player="$root/build/bin/orvane"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$player" "$@"
fi

echo "No display: starting Orvane under Xvfb with the demo song."
# No sound server answering: play to SDL's silent dummy device instead of failing to open one.
if ! command -v pactl >/dev/null || ! timeout 3 pactl info >/dev/null 2>&1; then
  export SDL_AUDIODRIVER=dummy
fi
demo_home=$(mktemp -d /tmp/orvane-demo-XXXXXX)
trap 'rm -rf "$demo_home"' EXIT
mkdir -p "$demo_home"/{home,config,data,cache,runtime}
chmod 700 "$demo_home/runtime"
export HOME="$demo_home/home" XDG_CONFIG_HOME="$demo_home/config" XDG_DATA_HOME="$demo_home/data"
export XDG_CACHE_HOME="$demo_home/cache" XDG_RUNTIME_DIR="$demo_home/runtime"
shots="${ORVANE_SCREENSHOT_DIR:-$root/build/screenshots}"
song="$root/build/bin/demo/Orvane演示曲.mp3"
args=("$@")
[[ ${#args[@]} -eq 0 && -f "$song" ]] && args=("$song")
# The interface's language follows the message language: once the default (Chinese), once English.
for language in "" en; do
  env -u LC_ALL -u LC_MESSAGES LANG=C.UTF-8 LANGUAGE="$language" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$player" --screenshots "$shots" --screenshot-delay 7000 "${args[@]}"
  # The second run starts from the same fresh home as the first.
  rm -rf "$demo_home"/{home,config,data,cache}/* "$demo_home"/runtime/*
done
