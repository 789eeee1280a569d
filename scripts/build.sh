#!/usr/bin/env bash
# Configures (once) and builds incrementally. Usage: scripts/build.sh <build-dir> [cmake options…]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@"
else
  cmake "$dir" "$@" > /dev/null
fi
cmake --build "$dir" -- -j"$(nproc)"
