#!/usr/bin/env bash
# Frame times of the face animations under a virtual display, with the software scene renderer the
# player uses by default: the settings flip there and back, and mini mode in and out.
#   target: every frame at the display's rate, none over 20 ms
# Builds only the scene preview, in the shared Release tree of the benchmarks ($ORVANE_BENCH_BUILD,
# default build-bench). Usage: scripts/bench/faces.sh [runs, default 3]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${ORVANE_BENCH_BUILD:-$root/build-bench}
runs=${1:-3}
ORVANE_BUILD_TARGETS=scene_preview "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF > /dev/null
work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export HOME="$work" XDG_RUNTIME_DIR="$work/runtime" QT_QUICK_BACKEND=software
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
for run in $(seq "$runs"); do
  echo "run $run:"
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$dir/tests/scene_preview" --bench-faces 2>/dev/null |
    grep -v '^first frame'
done
