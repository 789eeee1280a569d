#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite; exits non-zero on any failure.
#   scripts/test.sh              Release build in build/
#   scripts/test.sh --sanitize   Debug build with AddressSanitizer + UBSan in build-asan/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh

dir=build
opts=(-DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF)
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-asan
  opts=(-DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
scripts/build.sh "$dir" "${opts[@]}"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600
