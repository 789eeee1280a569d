#!/usr/bin/env bash
# ThreadSanitizer run of the audio, network and lyrics tests: a Debug build with -fsanitize=thread
# in build-tsan/ (or $ORVANE_TSAN_BUILD), then each test program; exits non-zero on the first data
# race, lock-order inversion or failing test.
#   scripts/tsan.sh              all of them
#   scripts/tsan.sh bass_test    only these programs
# Qt, FFmpeg, SDL and libcurl come from Debian, uninstrumented: what they do inside is not checked,
# and scripts/tsan.supp names the few reports that come from inside them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${ORVANE_TSAN_BUILD:-$root/build-tsan}
tests=(bass_test audio_engine_test sound_server_test song_cache_test effect_presets_test broken_audio_test hostile_stream_test
       net_test online_test hostile_server_test lrc_test lrcdown_test lrc_lookup_test render_test)
[[ $# -gt 0 ]] && tests=("$@")

flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
link="-fsanitize=thread"
"$root/scripts/install-deps.sh"
ORVANE_BUILD_TARGETS="${tests[*]} lrcdown orvane_decode" "$root/scripts/build.sh" "$dir" \
  -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=OFF \
  "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$link" "-DCMAKE_SHARED_LINKER_FLAGS=$link" "-DCMAKE_MODULE_LINKER_FLAGS=$link"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4 suppressions=$root/scripts/tsan.supp ${TSAN_OPTIONS:-}"
# Headless: no sound server, no display.
export SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=offscreen
failed=()
for test in "${tests[@]}"; do
  echo "== $test"
  if ! "$dir/tests/$test" --gtest_brief=1; then failed+=("$test"); fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "ThreadSanitizer run failed: ${failed[*]}" >&2
  exit 1
fi
echo "ThreadSanitizer run clean: ${#tests[@]} test programs"
