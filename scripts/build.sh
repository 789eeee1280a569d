#!/usr/bin/env bash
# Configures (once) and builds incrementally.
#   scripts/build.sh <build-dir> [cmake options…]
# ORVANE_BUILD_TARGETS="a b" builds only those targets (and what they need).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@"
else
  cmake "$dir" "$@" > /dev/null
fi
targets=()
for target in ${ORVANE_BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$dir" "${targets[@]}" -- -j"$(nproc)"
