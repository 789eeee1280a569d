#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) in build-fuzz/ and runs each one
# from its seed corpus in fuzz/corpus/<target>/.
#   scripts/fuzz.sh [--time SECONDS] [--runs N] [--jobs N] [target…]
#     --time  seconds per target (default 30)
#     --runs  stop a target after N executions instead (libFuzzer's -runs); whichever comes first
#     --jobs  how many targets run at once (default 1)
#   With no target names every target runs. Set ORVANE_FUZZ_BUILD to use another build folder and
#   ORVANE_FUZZ_MAX_LEN to change the largest input tried (default 8192 bytes), ORVANE_FUZZ_TIMEOUT
#   the seconds one input may take before it counts as a hang (default 30; generous, because a
#   loaded machine can stall a process for seconds).
# New inputs a run finds go to build-fuzz/corpus/<target>/ (kept between runs, never committed);
# a crash, leak, time-out or broken property is written to build-fuzz/findings/ and the script
# exits non-zero. Each target's last statistics line is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=30
runs=-1
jobs=1
targets=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done

dir=${ORVANE_FUZZ_BUILD:-build-fuzz}
if [[ ! -f "$dir/build.ninja" ]]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_FUZZ=ON -DORVANE_BUILD_TESTS=OFF -DORVANE_SANITIZE=OFF > /dev/null
fi
cmake --build "$dir" --target fuzzers -- -j"$(nproc)"

if [[ ${#targets[@]} -eq 0 ]]; then
  mapfile -t targets < <(sed -n 's/^orvane_add_fuzzer(\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
fi

mkdir -p "$dir/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local target=$1
  local work="$dir/corpus/$target" seeds="fuzz/corpus/$target" log="$dir/findings/$target.log"
  mkdir -p "$work" "$seeds"
  local rc=0
  "$dir/fuzz/$target" "$work" "$seeds" -max_total_time="$seconds" -runs="$runs" -max_len="${ORVANE_FUZZ_MAX_LEN:-8192}" \
    -timeout="${ORVANE_FUZZ_TIMEOUT:-30}" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
    > "$log" 2>&1 || rc=$?
  local execs rate
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [[ $rc -eq 0 ]]; then
    printf '%-24s ok      %12s runs  %8s/s\n' "$target" "${execs:-?}" "${rate:-?}"
  else
    printf '%-24s FAILED  %12s runs  (exit %d; see %s)\n' "$target" "${execs:-?}" "$rc" "$log"
    grep -m5 -E 'ERROR|property broken|SUMMARY|Test unit written' "$log" || true
  fi
  return $rc
}

failed=0
running=0
for target in "${targets[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [[ $running -ge $jobs ]]; then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
done
while [[ $running -gt 0 ]]; do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done
if [[ $failed -ne 0 ]]; then
  echo "fuzzing: $failed of ${#targets[@]} targets found a fault"
  exit 1
fi
echo "fuzzing: all ${#targets[@]} targets ran clean"
