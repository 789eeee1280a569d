#!/usr/bin/env bash
# Installs what is missing, builds and runs the tests; exits non-zero on any failure.
#   scripts/test.sh              the everyday check, in this order:
#                                  1. the whole suite, Release build in build/ (the decoders' and
#                                     the tags' reference checks are part of it)
#                                  2. a brief run of every fuzz target (clang, ASan + UBSan, build-fuzz/)
#   scripts/test.sh --all        everything CI checks (.ci/run): 1 and 2, then
#                                  3. the whole suite again under AddressSanitizer + UBSan (Debug,
#                                     build-asan/), so CI's last words are that suite's summary
#   scripts/test.sh --release    only 1
#   scripts/test.sh --fuzz       only 2
#   scripts/test.sh --sanitize   only 3
# ORVANE_FUZZ_SECONDS sets the seconds per fuzz target in 2 (default 10, and 20 with --all or
# --fuzz); scripts/fuzz.sh runs them for longer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh

run_suite() {
  local dir=$1; shift
  scripts/build.sh "$dir" "$@"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600
}

release() {
  echo "== Release suite"
  run_suite build -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE=OFF
}

fuzz() {
  echo "== Brief fuzz runs"
  scripts/fuzz.sh --time "${ORVANE_FUZZ_SECONDS:-${1:-20}}" --jobs "$(nproc)"
}

sanitize() {
  echo "== AddressSanitizer + UBSan suite"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON
}

case "${1:-}" in
  "") release; fuzz 10 ;;
  --all) release; fuzz; sanitize ;;
  --release) release ;;
  --fuzz) fuzz ;;
  --sanitize) sanitize ;;
  *) echo "usage: scripts/test.sh [--all|--release|--fuzz|--sanitize]" >&2; exit 2 ;;
esac
